#include "LumenorCore/UnixSocket.h"

#include "LumenorCore/UnixSocketError.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace UnixSocket {
namespace {

// True once `fd` has something to say (a byte, the end, an error); false at `deadline`.
bool waitReadable(int fd, std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    for (;;) {
        const auto left = ceil<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0)
            return false;
        pollfd watched{fd, POLLIN, 0};
        const int ready = ::poll(&watched, 1, int(std::min<std::int64_t>(left, INT_MAX)));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

} // namespace

void Descriptor::reset() {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

Descriptor openStream() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw UnixSocketError::system("socket", errno);
    return Descriptor(fd);
}

sockaddr_un address(const std::string& path, const char* call) {
    if (path.size() > maximumPathLength)
        throw UnixSocketError::pathTooLong();
    if (path.empty() || path.find('\0') != std::string::npos)
        throw UnixSocketError::system(call, EINVAL);
    sockaddr_un result{};
    result.sun_family = AF_UNIX;
    std::memcpy(result.sun_path, path.data(), path.size());
    return result;
}

void setTimeouts(int fd, std::chrono::seconds timeout) {
    const timeval value{static_cast<time_t>(timeout.count()), 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value);
}

Line readLine(int fd, std::chrono::steady_clock::time_point deadline) {
    Line line{{}, LineEnd::failed};
    std::string buffer(4096, '\0');
    for (;;) {
        if (!waitReadable(fd, deadline)) {
            line.end = LineEnd::timedOut;
            return line;
        }
        // Look before taking: only the bytes up to the line feed are then consumed, in one call.
        const ssize_t seen = ::recv(fd, buffer.data(), buffer.size(), MSG_PEEK | MSG_DONTWAIT);
        if (seen > 0) {
            const auto* lineFeed = static_cast<const char*>(std::memchr(buffer.data(), '\n', seen));
            const std::size_t take =
                lineFeed ? std::size_t(lineFeed - buffer.data()) + 1 : std::size_t(seen);
            const ssize_t got = ::recv(fd, buffer.data(), take, MSG_DONTWAIT);
            if (got != ssize_t(take)) {
                line.end = LineEnd::failed;
                return line;
            }
            const std::size_t kept = lineFeed ? take - 1 : take;
            if (line.bytes.size() + kept > maximumLineLength) {
                line.bytes.append(buffer.data(), maximumLineLength - line.bytes.size());
                line.end = LineEnd::tooLong;
                return line;
            }
            line.bytes.append(buffer.data(), kept);
            if (lineFeed) {
                line.end = LineEnd::lineFeed;
                return line;
            }
            if (buffer.size() < 65'536)
                buffer.resize(buffer.size() * 4);
            continue;
        }
        if (seen == 0) {
            line.end = LineEnd::endOfStream;
            return line;
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return line;
    }
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data.remove_prefix(std::size_t(sent));
    }
    return true;
}

} // namespace UnixSocket
