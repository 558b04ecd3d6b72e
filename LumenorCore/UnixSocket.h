#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include <sys/un.h>

/// The plumbing the control socket's server and client share. Internal to LumenorCore.
namespace UnixSocket {

/// Longest path an address takes, in bytes, so that the same paths work on every platform.
inline constexpr std::size_t maximumPathLength = 103;
/// Most bytes collected for one line, line feed excluded.
inline constexpr std::size_t maximumLineLength = 1'048'576;

/// A descriptor owned by one scope and closed when it ends.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd(other.release()) {}
    Descriptor& operator=(Descriptor&&) = delete;
    ~Descriptor() { reset(); }

    int get() const { return fd; }
    int release() { return std::exchange(fd, -1); }
    void reset();

private:
    int fd;
};

/// A new close-on-exec Unix-domain stream socket; throws UnixSocketError "socket".
Descriptor openStream();

/// The zero-filled address of `path`; throws UnixSocketError::pathTooLong past 103 bytes, and
/// `call`'s EINVAL for an empty path or one with a NUL byte, which would name another socket.
sockaddr_un address(const std::string& path, const char* call);

/// Sets the receive and send time-outs of `fd` (failures are ignored).
void setTimeouts(int fd, std::chrono::seconds timeout);

/// How a line read ended; `overBudget` only where a server bounds what it holds for all.
enum class LineEnd { lineFeed, endOfStream, failed, timedOut, tooLong, overBudget };

struct Line {
    std::string bytes;
    LineEnd end;
};

/// Reads up to the first line feed (not kept), peeking first so that nothing after it is
/// consumed. Stops at end of stream, on an error, at `deadline`, or with `tooLong` when no line
/// feed follows maximumLineLength bytes.
Line readLine(int fd, std::chrono::steady_clock::time_point deadline);

/// Sends all of `data`, never raising SIGPIPE; false (with errno set) when a send fails.
bool writeAll(int fd, std::string_view data);

} // namespace UnixSocket
