#include "LumenorCore/LumenorServer.h"

#include "LumenorCore/LumenorJSON.h"
#include "LumenorCore/UnixSocket.h"
#include "LumenorCore/UnixSocketError.h"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <system_error>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// A silent or slow client gives up its connection after this long.
constexpr auto connectionTimeout = 10s;
constexpr int backlog = 16;

// Like `mkdir -p`, but what it creates is owner-only whatever the umask.
void createDirectories(const std::filesystem::path& directory) {
    std::error_code ignored;
    if (directory.empty() || std::filesystem::is_directory(directory, ignored))
        return;
    createDirectories(directory.parent_path());
    if (::mkdir(directory.c_str(), 0700) == 0) {
        ::chmod(directory.c_str(), 0700);
        return;
    }
    if (errno != EEXIST)
        throw std::filesystem::filesystem_error("cannot create directory", directory,
                                                std::error_code(errno, std::system_category()));
}

// Only a socket is ever removed: a regular file someone keeps at the path is not ours to delete.
void removeStaleSocket(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
        ::unlink(path.c_str());
}

bool peerIsThisUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
}

// None when the handler fails: the connection is then closed unanswered.
std::optional<LumenorResponse> respond(const LumenorServer::Handler& handler,
                                       const UnixSocket::Line& line) {
    const LumenorResponse malformed{false, "Malformed request"};
    if (line.bytes.empty() || line.end == UnixSocket::LineEnd::tooLong)
        return malformed;
    LumenorRequest request;
    try {
        request = LumenorJSON::decode<LumenorRequest>(line.bytes);
    } catch (const std::exception&) {
        return malformed;
    }
    try {
        return handler(request);
    } catch (...) {
        return std::nullopt;
    }
}

void spawn(void (*work)(std::weak_ptr<LumenorServer>, int), std::weak_ptr<LumenorServer> server,
           int connection) {
    try {
        std::thread(work, std::move(server), connection).detach();
    } catch (const std::system_error&) {
        ::close(connection);
    }
}

} // namespace

LumenorServer::LumenorServer(std::string path, Handler handler)
    : path_(std::move(path)), handler_(std::move(handler)) {}

LumenorServer::~LumenorServer() {
    if (listenFD() >= 0)
        stop();
}

std::int32_t LumenorServer::listenFD() const {
    std::lock_guard lock(mutex_);
    return listenFD_;
}

void LumenorServer::start() {
    std::lock_guard lock(mutex_);
    if (listenFD_ >= 0)
        throw std::logic_error("LumenorServer is already listening");
    std::weak_ptr<LumenorServer> self = weak_from_this();
    if (self.expired())
        throw std::logic_error("LumenorServer must be owned by a std::shared_ptr");
    const sockaddr_un address = UnixSocket::address(path_, "bind");
    createDirectories(std::filesystem::path(path_).parent_path());
    removeStaleSocket(path_);
    UnixSocket::Descriptor socket = UnixSocket::openStream();
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw UnixSocketError::system("bind", errno);
    ::chmod(path_.c_str(), 0600);
    struct stat info {};
    if (::lstat(path_.c_str(), &info) == 0)
        boundFile_ = FileIdentity{info.st_dev, info.st_ino};
    if (::listen(socket.get(), backlog) != 0) {
        const int error = errno;
        ::unlink(path_.c_str());
        throw UnixSocketError::system("listen", error);
    }
    stopping_ = false;
    acceptThread_ = std::thread(&LumenorServer::acceptLoop, this, socket.get(), std::move(self));
    listenFD_ = socket.release();
}

void LumenorServer::stop() {
    std::lock_guard lock(mutex_);
    if (listenFD_ >= 0) {
        stopping_ = true;
        // Closing alone does not wake an accept blocked in another thread; a shutdown does.
        ::shutdown(listenFD_, SHUT_RDWR);
        if (acceptThread_.joinable())
            acceptThread_.join();
        ::close(listenFD_);
        listenFD_ = -1;
    }
    removeSocketFile();
}

void LumenorServer::removeSocketFile() {
    struct stat info {};
    if (::lstat(path_.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return;
    // A newer server may have taken the path over; its socket stays.
    if (boundFile_ && (info.st_dev != boundFile_->device || info.st_ino != boundFile_->inode))
        return;
    ::unlink(path_.c_str());
}

// Runs until `stop`. Short-lived failures (a client gone before it was accepted, descriptors or
// memory running out) must not end the service for good.
void LumenorServer::acceptLoop(int fd, std::weak_ptr<LumenorServer> self) {
    while (!stopping_) {
        const int connection = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0) {
            spawn(&LumenorServer::serve, self, connection);
            continue;
        }
        const int error = errno;
        if (error == EINTR || error == ECONNABORTED || error == EPROTO)
            continue;
        if (error != EMFILE && error != ENFILE && error != ENOBUFS && error != ENOMEM)
            return;
        std::this_thread::sleep_for(50ms);
    }
}

void LumenorServer::serve(std::weak_ptr<LumenorServer> self, int fd) {
    const UnixSocket::Descriptor connection(fd);
    if (self.expired() || !peerIsThisUser(fd))
        return;
    // The send time-out keeps a client that never reads from holding this thread.
    UnixSocket::setTimeouts(fd, connectionTimeout);
    const auto deadline = std::chrono::steady_clock::now() + connectionTimeout;
    const UnixSocket::Line line = UnixSocket::readLine(fd, deadline);
    std::string answer;
    {
        const std::shared_ptr<LumenorServer> server = self.lock();
        if (!server)
            return;
        const auto response = respond(server->handler_, line);
        if (!response)
            return;
        try {
            answer = LumenorJSON::line(*response);
        } catch (const LumenorJSON::EncodingError&) {
            return;
        }
    }
    UnixSocket::writeAll(fd, answer);
}
