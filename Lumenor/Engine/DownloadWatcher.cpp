#include "Lumenor/Engine/DownloadWatcher.h"

#include <sys/stat.h>

namespace DownloadWatcher {

Measurement measure(const std::filesystem::path& path, const Limits& limits) {
    namespace fs = std::filesystem;
    using Outcome = Measurement::Outcome;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status))
        return {Outcome::missing, 0};
    if (!fs::is_directory(status)) {
        struct stat attributes {};
        if (::stat(path.c_str(), &attributes) != 0)
            return {Outcome::missing, 0};
        return {Outcome::measured, static_cast<std::uint64_t>(attributes.st_size)};
    }
    const auto deadline = std::chrono::steady_clock::now() + limits.time;
    std::uint64_t total = 0;
    std::size_t entries = 0;
    fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        // The clock is read now and then: it costs more than a directory entry.
        if (++entries > limits.entries ||
            (entries % 256 == 0 && std::chrono::steady_clock::now() > deadline))
            return {Outcome::tooLarge, total};
        std::error_code itemError;
        if (it->symlink_status(itemError).type() == fs::file_type::regular) {
            const auto bytes = it->file_size(itemError);
            total += itemError ? 0 : bytes;
        }
    }
    return {Outcome::measured, total};
}

} // namespace DownloadWatcher
