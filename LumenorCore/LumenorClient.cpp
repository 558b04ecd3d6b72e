#include "LumenorCore/LumenorClient.h"

#include "LumenorCore/LumenorJSON.h"
#include "LumenorCore/UnixSocket.h"
#include "LumenorCore/UnixSocketError.h"

#include <cerrno>
#include <chrono>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// A time-out of 0 would mean "wait for ever" to the socket; a huge one would overflow it.
std::chrono::seconds wholeSeconds(double timeoutSeconds) {
    constexpr double longest = 1e9;
    if (!(timeoutSeconds >= 1))
        return std::chrono::seconds(1);
    return std::chrono::seconds(static_cast<std::int64_t>(std::min(timeoutSeconds, longest)));
}

} // namespace

LumenorResponse LumenorClient::send(const LumenorRequest& request, const std::string& path,
                                    double timeoutSeconds) {
    UnixSocket::Descriptor socket = UnixSocket::openStream();
    const auto timeout = wholeSeconds(timeoutSeconds);
    UnixSocket::setTimeouts(socket.get(), timeout);
    const sockaddr_un address = UnixSocket::address(path, "connect");
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw UnixSocketError::system("connect", errno);
    // Where the folder is shared, another user could serve the socket and forge every answer.
    ucred server{};
    socklen_t size = sizeof server;
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &server, &size) != 0)
        throw UnixSocketError::system("getsockopt", errno);
    if (server.uid != ::getuid())
        throw UnixSocketError::foreignServer(server.uid);
    if (!UnixSocket::writeAll(socket.get(), LumenorJSON::line(request)))
        throw UnixSocketError::system("write", errno);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const UnixSocket::Line line = UnixSocket::readLine(socket.get(), deadline);
    socket.reset();
    if (line.bytes.empty())
        throw UnixSocketError::noResponse();
    if (line.end == UnixSocket::LineEnd::tooLong)
        throw LumenorJSON::DecodingError("response line longer than 1048576 bytes");
    return LumenorJSON::decode<LumenorResponse>(line.bytes);
}
