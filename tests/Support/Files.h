#pragma once

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

/// Writes `text` to `file`, creating the folders on the way.
inline std::filesystem::path writeFile(const std::filesystem::path& file, std::string_view text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    return file;
}

/// The whole of `file`, or nothing if it cannot be read.
inline std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

/// The permission bits of `path` itself, not of a link's target.
inline unsigned modeOf(const std::filesystem::path& path) {
    return unsigned(std::filesystem::symlink_status(path).permissions() &
                    std::filesystem::perms::mask);
}

/// A fresh folder /tmp/<prefix>-XXXXXX, removed with everything in it at the end.
class TemporaryFolder {
public:
    explicit TemporaryFolder(const char* prefix = "lumenor") {
        std::string name = "/tmp/" + std::string(prefix) + "-XXXXXX";
        if (::mkdtemp(name.data()) == nullptr)
            throw std::system_error(errno, std::generic_category(), "mkdtemp");
        path_ = name;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path write(const std::filesystem::path& relative,
                                std::string_view text) const {
        return writeFile(path_ / relative, text);
    }

private:
    std::filesystem::path path_;
};
