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

// Grows in steps that never pass the cap, so a full line holds exactly the cap.
void appendByte(std::string& bytes, char byte) {
    if (bytes.size() == bytes.capacity())
        bytes.reserve(
            std::min(std::max<std::size_t>(bytes.capacity() * 2, 256), maximumLineLength));
    bytes += byte;
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
    for (;;) {
        char byte = 0;
        const ssize_t got = ::recv(fd, &byte, 1, MSG_DONTWAIT);
        if (got == 1 && byte == '\n') {
            line.end = LineEnd::lineFeed;
            return line;
        }
        if (got == 1 && line.bytes.size() == maximumLineLength) {
            line.end = LineEnd::tooLong;
            return line;
        }
        if (got == 1) {
            appendByte(line.bytes, byte);
            continue;
        }
        if (got == 0) {
            line.end = LineEnd::endOfStream;
            return line;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            line.end = LineEnd::failed;
            return line;
        }
        if (!waitReadable(fd, deadline)) {
            line.end = LineEnd::timedOut;
            return line;
        }
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
