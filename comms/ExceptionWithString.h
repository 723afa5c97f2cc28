#pragma once

#include <exception>
#include <string>

// Base of all the program's error types. Throw derived types with boost::throw_exception so
// that an exception_ptr captured on one thread rethrows the exact type on another.
class ExceptionWithString : public std::exception
{
public:
    explicit ExceptionWithString(std::string message) : m_message(std::move(message)) {}
    ~ExceptionWithString() override = default;

    const char* what() const noexcept override { return m_message.c_str(); }
    const std::string& Message() const { return m_message; }

private:
    std::string m_message;
};
