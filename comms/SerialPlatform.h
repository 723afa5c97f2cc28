#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "comms/ExceptionWithString.h"

// The operating-system side of the serial layers: opening and configuring a port, non-blocking
// reads and writes, events the I/O thread waits on, and the enumeration of ports with their
// COM numbers. One backend file implements it per platform (SerialPortPosix.cpp on Linux); the
// classes above (CommsConnection, SerialCommsThread, AutoReconnectSerialComms) call only this.
namespace SerialPlatform {

// A failed system call; Code() is the system's error number (errno on POSIX).
class SystemError : public ExceptionWithString
{
public:
    SystemError(const std::string& message, int code) : ExceptionWithString(message), m_code(code)
    {
    }
    int Code() const { return m_code; }

private:
    int m_code;
};

// Something the I/O thread can wait for; defined by the backend.
struct WaitSource;
typedef const WaitSource* WaitHandle;

// A manual-reset event: stays signalled from Set until Reset. Any thread may Set it.
class Event
{
public:
    Event();  // throws SystemError
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    WaitHandle Handle() const;

private:
    std::unique_ptr<WaitSource> m_source;
};

// An open serial device, held exclusively, or a network serial port (a subclass). Reads and
// writes never block. Used by one thread at a time (the connection's I/O thread once it runs).
class Port
{
public:
    // Opens path for reading and writing, exclusively (no other program, nor this one, can open
    // it meanwhile). Throws SystemError with the error number.
    static std::unique_ptr<Port> OpenExclusive(const std::string& path);
    virtual ~Port();
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    // Raw 8-bit bytes at baudRate; parity 0 none, 1 odd, 2 even; stopBits 1 or 2; no flow
    // control. Throws SystemError (code 0 for a value the port cannot take).
    virtual void Configure(int baudRate, int parity, int stopBits);
    // Raises DTR, then RTS. Lines a device does not have are ignored.
    virtual void RaiseDtrThenRts();
    // Empties both the input and the output queue.
    virtual void Purge();

    // Reads what is waiting, at most max bytes; 0 when nothing is. A hang-up (the device is
    // gone) or any other failure throws SystemError.
    virtual std::size_t ReadSome(unsigned char* buffer, std::size_t max);
    // Writes as much as the port accepts now (possibly 0). Failure throws SystemError.
    virtual std::size_t WriteSome(const unsigned char* data, std::size_t length);

    // Signalled while bytes can be read (or the device has gone).
    virtual WaitHandle Readable() const;
    // Signalled while bytes can be written (or the device has gone).
    virtual WaitHandle Writable() const;
    // Signalled when the driver has counted a new break condition; null when the driver does not
    // count breaks (pseudo-terminals, many USB adapters).
    virtual WaitHandle BreakSeen() const;
    // Acknowledges the breaks counted so far; true when there were new ones.
    virtual bool TakeBreaks();

    struct Impl; // backend state

protected:
    Port();

private:
    std::unique_ptr<Impl> m_impl;
};

// Connects to a network serial port: url as NetworkPortAddress reads it. TCP keep-alive probes
// an idle link every second after 2 s and give up after 3 unanswered (a dead link is noticed in
// about 5 s); unacknowledged data fails the link after 5 s. For rfc2217:// the Telnet session is
// opened and COM-PORT-OPTION must be accepted; Configure then sets the line through it and waits
// for the server to confirm the baud rate; RaiseDtrThenRts asks for the lines without needing an
// answer; Purge empties the server's buffers and drops what was received. For tcp:// those three
// only drop what was received. Every step is bounded by timeoutMs. Throws SystemError whose
// text is the reason alone ("connection refused", "unknown host", "timed out", ...); an invalid
// url throws ExceptionWithString.
// While abandoned (if given) is set, connecting and the first Configure give up within about
// 50 ms with SystemError "abandoned" (ECANCELED): an owner going away need not wait out a server
// that does not answer. It must outlive the port.
std::unique_ptr<Port> ConnectNetworkPort(const std::string& url, unsigned timeoutMs,
                                         const std::atomic<bool>* abandoned = nullptr);

// Waits up to timeoutMs for any of the handles. Returns the indices (ascending) of those that
// are signalled, empty on time-out. Throws SystemError when the wait itself fails.
std::vector<std::size_t> WaitForAny(const std::vector<WaitHandle>& handles, unsigned timeoutMs);

void SleepMilliseconds(unsigned ms);

// One serial device present on the machine.
struct PortEntry
{
    int portNumber = 0;          // COMn
    std::string devicePath;      // what OpenExclusive takes
    std::string friendlyName;    // "COMn - description (path)", with permission and latency hints
    std::string description;
    bool isUsb = false;
};

// Every serial device present, in ascending port number. Throws SystemError when the device
// list cannot be read.
std::vector<PortEntry> EnumeratePorts();

// The device path of COMn (the URL of a network port), empty when no device can carry that
// number now.
std::string DevicePathOfPort(int portNumber);

// The latency timer (ms) of the USB adapter behind devicePath as its driver reports it now; 0
// when the device has none (no such adapter, a pseudo-terminal, an unknown path). Opening a port
// asks for low latency, which brings a willing driver down to 1 ms.
int UsbLatencyTimerMs(const std::string& devicePath);
// What the user is told of a latency timer that still delays replies: "USB latency timer N ms:
// replies are delayed, see README" above 1 ms, else empty.
std::string UsbLatencyWarning(int latencyTimerMs);

// " - no permission (add the user to the dialout group)" when this user may not open path for
// reading and writing, else empty: the hint the port list and every failed open give.
std::string PermissionHint(const std::string& path);

// True when an exclusive open of path succeeds now (the port is not held by anyone). Always
// false for a network port: it is never chosen automatically.
bool IsPortAvailable(const std::string& path);

} // namespace SerialPlatform
