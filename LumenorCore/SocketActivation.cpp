#include "LumenorCore/SocketActivation.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace SocketActivation {
namespace {

/// The first descriptor passed, after standard input, output and error.
constexpr int firstPassed = 3;

bool isListeningStreamAt(int fd, const std::string& path) {
    int type = 0, listening = 0;
    socklen_t size = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_STREAM)
        return false;
    size = sizeof listening;
    if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || !listening)
        return false;
    sockaddr_un address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sun_family != AF_UNIX)
        return false;
    // A socket for another folder (LUMENOR_HOME, XDG_STATE_HOME) is not the one clients use.
    return std::string_view(address.sun_path, strnlen(address.sun_path, sizeof address.sun_path)) ==
           path;
}

} // namespace

int adopt(const std::string& path) {
    const char* pid = std::getenv("LISTEN_PID");
    const char* count = std::getenv("LISTEN_FDS");
    const bool ours = pid != nullptr && count != nullptr && std::atoll(pid) == ::getpid() &&
                      std::atoi(count) >= 1;
    if (!ours || !isListeningStreamAt(firstPassed, path))
        return -1;
    ::fcntl(firstPassed, F_SETFD, FD_CLOEXEC);
    ::fcntl(firstPassed, F_SETFL, ::fcntl(firstPassed, F_GETFL) | O_NONBLOCK);
    return firstPassed;
}

} // namespace SocketActivation
