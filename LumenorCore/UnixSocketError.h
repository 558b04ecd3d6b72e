#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

/// A failure of the control socket's transport; `what()` is the text callers show or log.
class UnixSocketError : public std::runtime_error {
public:
    enum class Kind { system, pathTooLong, noResponse, foreignServer };

    /// "<call> failed: <the system's text for errorNumber>".
    static UnixSocketError system(std::string call, std::int32_t errorNumber);
    /// "socket path too long": the path does not fit the 103 bytes an address holds.
    static UnixSocketError pathTooLong();
    /// "no response from Lumenor": the server closed or stayed silent past the time-out.
    static UnixSocketError noResponse();
    /// "the socket is served by user id N, not by this user": another user's program listens
    /// where Lumenor's socket should be, and may forge its answers.
    static UnixSocketError foreignServer(std::uint32_t uid);

    Kind kind() const { return kind_; }
    /// The failed system call ("socket", "bind", "listen", "connect", "write"); empty otherwise.
    const std::string& call() const { return call_; }
    /// The errno of the failed call; 0 otherwise.
    std::int32_t errorNumber() const { return errorNumber_; }

private:
    UnixSocketError(Kind kind, std::string call, std::int32_t errorNumber,
                    const std::string& description);

    Kind kind_;
    std::string call_;
    std::int32_t errorNumber_;
};
