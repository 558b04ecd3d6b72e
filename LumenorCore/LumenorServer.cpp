#include "LumenorCore/LumenorServer.h"

#include "LumenorCore/LumenorPaths.h"
#include "LumenorCore/ServerLoop.h"
#include "LumenorCore/SocketActivation.h"
#include "LumenorCore/UnixSocket.h"
#include "LumenorCore/UnixSocketError.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Room for a crowd of clients arriving at once while the loop accepts them.
constexpr int backlog = 1024;

// Only a socket is ever removed: a regular file someone keeps at the path is not ours to delete.
void removeStaleSocket(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
        ::unlink(path.c_str());
}

// Thousands of clients may connect at once; the soft limit on descriptors (often 1024) would
// refuse them long before the hard limit does.
void raiseDescriptorLimit() {
    constexpr rlim_t wanted = 16'384;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= wanted)
        return;
    limit.rlim_cur = std::min(wanted, limit.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

} // namespace

LumenorServer::LumenorServer(std::string path, Handler handler, Observer observer)
    : path_(std::move(path)), handler_(std::move(handler)), observer_(std::move(observer)) {}

LumenorServer::LumenorServer(std::string path, Dispatcher dispatcher, Observer observer)
    : path_(std::move(path)), dispatcher_(std::move(dispatcher)), observer_(std::move(observer)) {}

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
    const int handed = SocketActivation::adopt(path_);
    // The service manager owns a socket it handed over, file included: it listens again there
    // once this process has gone.
    handedOver_ = handed >= 0;
    UnixSocket::Descriptor socket = handedOver_ ? UnixSocket::Descriptor(handed) : bindSocket();
    if (handedOver_)
        recordBoundFile();
    raiseDescriptorLimit();
    try {
        loop_ = dispatcher_ ? ServerLoop::start(socket.get(), dispatcher_, observer_)
                            : ServerLoop::start(socket.get(), handler_, observer_);
    } catch (...) {
        if (!handedOver_)
            ::unlink(path_.c_str());
        throw;
    }
    listenFD_ = socket.release();
}

UnixSocket::Descriptor LumenorServer::bindSocket() {
    const sockaddr_un address = UnixSocket::address(path_, "bind");
    LumenorPaths::createPrivateDirectory(std::filesystem::path(path_).parent_path());
    removeStaleSocket(path_);
    UnixSocket::Descriptor socket = UnixSocket::openStream();
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw UnixSocketError::system("bind", errno);
    ::chmod(path_.c_str(), 0600);
    recordBoundFile();
    if (::listen(socket.get(), backlog) != 0) {
        const int error = errno;
        ::unlink(path_.c_str());
        throw UnixSocketError::system("listen", error);
    }
    ::fcntl(socket.get(), F_SETFL, ::fcntl(socket.get(), F_GETFL) | O_NONBLOCK);
    return socket;
}

// Which file is ours, so that a socket removed or replaced behind our back is noticed.
void LumenorServer::recordBoundFile() {
    struct stat info {};
    if (::lstat(path_.c_str(), &info) == 0)
        boundFile_ = FileIdentity{info.st_dev, info.st_ino};
}

void LumenorServer::stop() {
    std::lock_guard lock(mutex_);
    if (listenFD_ >= 0) {
        loop_->stop();
        loop_.reset();
        ::close(listenFD_);
        listenFD_ = -1;
    }
    removeSocketFile();
}

bool LumenorServer::stillBound() const {
    std::lock_guard lock(mutex_);
    struct stat info {};
    return listenFD_ >= 0 && boundFile_ && ::lstat(path_.c_str(), &info) == 0 &&
           S_ISSOCK(info.st_mode) && info.st_dev == boundFile_->device &&
           info.st_ino == boundFile_->inode;
}

void LumenorServer::removeSocketFile() {
    if (handedOver_)
        return;
    struct stat info {};
    if (::lstat(path_.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return;
    // A newer server may have taken the path over; its socket stays.
    if (boundFile_ && (info.st_dev != boundFile_->device || info.st_ino != boundFile_->inode))
        return;
    ::unlink(path_.c_str());
}
