#pragma once

#include <string>
#include <utility>
#include <vector>

// The network serial ports the user added, numbered COM400 to COM499 in the order they were added
// (the lowest free number) and kept in the settings store, group "NetworkSerialPorts", as
// COMn = URL. Any thread; every call reads the store afresh, so all windows and processes agree.
class NetworkPortRegistry
{
public:
    static constexpr int firstNumber = 400;
    static constexpr int lastNumber = 499;

    static bool IsNetworkNumber(int number)
    {
        return number >= firstNumber && number <= lastNumber;
    }

    // Keeps url (checked and written the canonical way) and returns its number; a URL kept
    // already keeps its number. Throws ExceptionWithString for an invalid URL or when every
    // number is taken.
    static int Add(const std::string& url);
    // Forgets COMn; nothing happens for a number not kept.
    static void Remove(int number);
    // The URL of COMn; empty when n is not a kept network port.
    static std::string UrlOf(int number);
    // Every kept port, by number.
    static std::vector<std::pair<int, std::string>> List();
};
