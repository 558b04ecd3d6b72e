#include "Lumenor/App/SingleInstance.h"

#include "LumenorCore/LumenorPaths.h"
#include "LumenorCore/UnixSocketError.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

int refuse(const std::string& what, const std::filesystem::path& path,
           const std::error_code& error) {
    std::fprintf(stderr, "Lumenor can't use its %s %s: %s.\n", what.c_str(), path.c_str(),
                 LumenorPaths::describeFailure(error).c_str());
    return 1;
}

std::error_code lastError() {
    return {errno, std::system_category()};
}

} // namespace

SingleInstance::~SingleInstance() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool SingleInstance::stillHeld() const {
    struct stat held {
    }, named{};
    return fd_ >= 0 && ::fstat(fd_, &held) == 0 &&
           ::stat(LumenorPaths::lockFile().c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

bool SingleInstance::retake() {
    try {
        LumenorPaths::createPrivateDirectory(LumenorPaths::supportDirectory());
    } catch (const std::filesystem::filesystem_error&) {
        return false;
    }
    const int fd =
        ::open(LumenorPaths::lockFile().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
    return true;
}

std::optional<int> SingleInstance::takeOrExplain() {
    const std::filesystem::path folder = LumenorPaths::supportDirectory();
    try {
        LumenorPaths::createPrivateDirectory(folder);
    } catch (const std::filesystem::filesystem_error& error) {
        return refuse("folder", error.path1(), error.code());
    }
    const std::filesystem::path lock = LumenorPaths::lockFile();
    // Close-on-exec: a child the app starts must not keep the lock after the app is gone.
    fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
        return refuse("lock file", lock, lastError());
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            anotherServes_ = true;
            return 0;
        }
        return refuse("lock file", lock, lastError());
    }
    moveLegacyFiles();
    return std::nullopt;
}

bool SingleInstance::takeOnceFreed(std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    anotherServes_ = false;
    moveLegacyFiles();
    return true;
}

void SingleInstance::moveLegacyFiles() {
    for (const std::string& problem : LumenorPaths::migrateLegacySupport()) {
        std::fprintf(stderr, "Lumenor: %s\n", problem.c_str());
    }
}

std::string socketFailureMessage(const std::string& path, const std::exception& error) {
    std::string cause = error.what();
    if (const auto* socketError = dynamic_cast<const UnixSocketError*>(&error)) {
        if (socketError->kind() == UnixSocketError::Kind::pathTooLong) {
            cause = "path too long (" + std::to_string(path.size()) +
                    " bytes; a socket path holds at most 103)";
        } else if (socketError->errorNumber() != 0) {
            struct stat info {};
            // bind reports a regular file at the path as an address in use.
            const bool fileInTheWay = ::lstat(path.c_str(), &info) == 0 && !S_ISSOCK(info.st_mode);
            cause = fileInTheWay ? "a file is in the way"
                                 : LumenorPaths::describeFailure(
                                       {socketError->errorNumber(), std::system_category()});
        }
    } else if (const auto* fileError =
                   dynamic_cast<const std::filesystem::filesystem_error*>(&error)) {
        cause = LumenorPaths::describeFailure(fileError->code()) + " (" +
                fileError->path1().string() + ")";
    }
    return "Lumenor can't serve its control socket at " + path + ": " + cause + ".";
}
