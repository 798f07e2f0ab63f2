#pragma once
// Error classes shared by every layer. Messages are UTF-8. The class name is what the
// start-up failure box names, so each subclass reports its own.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace krepiks {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    virtual const char* className() const noexcept { return "Exception"; }
};

// Provider (catalogue) failures: missing file, bad statement, refused post.
class EDatabaseError : public Exception {
public:
    using Exception::Exception;
    const char* className() const noexcept override { return "EDatabaseError"; }
};

// Automation failures: unknown member, call on a value without an object.
class EOleError : public Exception {
public:
    using Exception::Exception;
    const char* className() const noexcept override { return "EOleError"; }
};

// A failed automation call that carries an HRESULT.
class EOleSysError : public EOleError {
public:
    EOleSysError(const std::string& message, int32_t code) : EOleError(message), code_(code) {}
    int32_t errorCode() const noexcept { return code_; }
    const char* className() const noexcept override { return "EOleSysError"; }

private:
    int32_t code_;
};

// The server raised an exception of its own; the message is its description.
class EOleException : public EOleSysError {
public:
    EOleException(const std::string& message, int32_t code, std::string source = {})
        : EOleSysError(message, code), source_(std::move(source)) {}
    const std::string& source() const noexcept { return source_; }
    const char* className() const noexcept override { return "EOleException"; }

private:
    std::string source_;
};

} // namespace krepiks
