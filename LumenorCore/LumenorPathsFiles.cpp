// The places of LumenorPaths that are created, owner-only from their first byte, and the move of
// what earlier versions kept under ~/Library into the support folder.
#include "LumenorCore/LumenorPaths.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace LumenorPaths {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const char* what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::system_category()));
}

// Places that belong to someone else: whoever owns them could read or forge what is in them.
class OwnershipCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "lumenor-ownership"; }
    std::string message(int) const override { return "it belongs to another user"; }
};

const OwnershipCategory ownership;

[[noreturn]] void failForeign(const char* what, const fs::path& path) {
    throw fs::filesystem_error(what, path, std::error_code(1, ownership));
}

// Creates `directory` and its missing parents owner-only; what exists already is left alone.
void createMissing(const fs::path& directory) {
    std::error_code ignored;
    if (directory.empty() || fs::is_directory(directory, ignored))
        return;
    if (fs::exists(fs::symlink_status(directory, ignored)) || fs::exists(directory, ignored))
        fail("cannot create directory", directory, ENOTDIR);
    createMissing(directory.parent_path());
    // mkdir applies the umask; chmod makes sure the folder is owner-only all the same.
    if (::mkdir(directory.c_str(), 0700) == 0) {
        ::chmod(directory.c_str(), 0700);
        return;
    }
    if (errno != EEXIST || !fs::is_directory(directory, ignored))
        fail("cannot create directory", directory, errno == EEXIST ? ENOTDIR : errno);
}

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Writes `bytes` to a fresh owner-only file beside `target`, then puts it in place.
void replaceWith(const fs::path& target, const std::string& bytes) {
    const fs::path temporary = target.string() + ".moving";
    // Made afresh: whatever was left or planted under the name (a link) is never written to.
    ::unlink(temporary.c_str());
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        fail("cannot write", temporary, errno);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(temporary.c_str());
            fail("cannot write", temporary, error);
        }
        written += std::size_t(n);
    }
    if (::close(fd) != 0 || ::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        fail("cannot write", target, error);
    }
}

// The old bytes go first: a log reads oldest to newest.
void moveInto(const fs::path& from, const fs::path& to, bool appendExisting) {
    std::error_code error;
    if (!fs::exists(to, error) && ::rename(from.c_str(), to.c_str()) == 0) {
        ::chmod(to.c_str(), 0600);
        return;
    }
    std::string bytes = readAll(from);
    if (appendExisting && fs::exists(to, error))
        bytes += readAll(to);
    replaceWith(to, bytes);
    fs::remove(from);
}

} // namespace

void createPrivateDirectory(const fs::path& directory) {
    createMissing(directory);
    if (directory.empty())
        return;
    // Another user's folder (in a shared XDG_STATE_HOME) is refused; a loose one of ours is
    // tightened, so that no one else can plant a socket, a link or a state file in it.
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0)
        fail("cannot use directory", directory, errno);
    if (info.st_uid != ::geteuid())
        failForeign("cannot use directory", directory);
    if ((info.st_mode & 077) != 0 && ::chmod(directory.c_str(), 0700) != 0)
        fail("cannot restrict directory", directory, errno);
}

int openRegularFile(const fs::path& file, int flags) {
    const int fd = ::open(file.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat info {};
    if (fd < 0)
        return -1;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        // A loose file of ours (a log made 0666 by an old version) is made owner-only.
        if (info.st_uid == ::geteuid() && (info.st_mode & 077) != 0)
            ::fchmod(fd, info.st_mode & 0600);
        return fd;
    }
    ::close(fd);
    errno = ENXIO;
    return -1;
}

void createPrivateFile(const fs::path& file) {
    createPrivateDirectory(file.parent_path());
    const int fd = openRegularFile(file, O_WRONLY | O_CREAT);
    if (fd < 0)
        fail("cannot create file", file, errno == ELOOP ? EEXIST : errno);
    struct stat info {};
    const bool foreign = ::fstat(fd, &info) == 0 && info.st_uid != ::geteuid();
    const bool tightened = !foreign && ::fchmod(fd, 0600) == 0;
    const int error = errno;
    ::close(fd);
    if (foreign)
        failForeign("cannot use file", file);
    if (!tightened)
        fail("cannot restrict file", file, error);
}

std::string describeFailure(const std::error_code& error) {
    if (error.category() == ownership)
        return error.message();
    switch (error.value()) {
    case ENOTDIR:
    case EEXIST:
        return "a file is in the way";
    case EACCES:
    case EPERM:
        return "permission denied";
    case ENAMETOOLONG:
        return "path too long";
    case ENXIO:
        return "it is not a regular file";
    case ELOOP:
        return "a symbolic link is in the way";
    case EROFS:
        return "read-only file system";
    default:
        return error.message();
    }
}

std::vector<std::string> migrateLegacySupport() {
    const fs::path legacy = legacySupportDirectory();
    std::error_code ignored;
    if (!fs::is_directory(legacy, ignored))
        return {};
    std::vector<std::string> problems;
    // A second state file is kept under its own name: the newer one stays in charge.
    const std::pair<const char*, const char*> moves[] = {{"lumenor.log", "lumenor.log"},
                                                         {"state.json", "state.json"}};
    for (const auto& [name, target] : moves) {
        const fs::path from = legacy / name;
        const auto type = fs::symlink_status(from, ignored).type();
        if (type == fs::file_type::not_found || type == fs::file_type::none)
            continue;
        if (type != fs::file_type::regular) {
            problems.push_back("Couldn't move " + from.string() + ": it is not a regular file");
            continue;
        }
        try {
            createPrivateDirectory(supportDirectory());
            fs::path to = supportDirectory() / target;
            const bool isLog = std::string(name) == "lumenor.log";
            if (!isLog && fs::exists(to, ignored))
                to = supportDirectory() / "state-earlier.json";
            moveInto(from, to, isLog);
        } catch (const fs::filesystem_error& error) {
            problems.push_back("Couldn't move " + from.string() + ": " +
                               describeFailure(error.code()));
        }
    }
    // Each folder goes only when nothing is left in it; rmdir refuses otherwise.
    for (fs::path folder = legacy; folder != homeDirectory() && folder.has_relative_path();
         folder = folder.parent_path()) {
        if (::rmdir(folder.c_str()) != 0)
            break;
    }
    return problems;
}

} // namespace LumenorPaths
