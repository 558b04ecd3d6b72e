#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>

/// Measures what a download session watches: a file's size, or the total size of the regular
/// files under a folder. Runs off the main thread; a folder walk stops at a bound on entries and
/// on time, so that watching "/" cannot keep a worker busy for minutes.
namespace DownloadWatcher {

struct Limits {
    std::size_t entries = 100'000;
    std::chrono::steady_clock::duration time = std::chrono::seconds(2);
};

struct Measurement {
    enum class Outcome { measured, missing, tooLarge };
    Outcome outcome = Outcome::missing;
    std::uint64_t size = 0;

    bool operator==(const Measurement&) const = default;
};

/// `missing` when nothing is at `path`; `tooLarge` when a folder holds more than
/// `limits.entries` entries or its walk outlasts `limits.time`. Unreadable folders inside are
/// skipped; a symbolic link counts as itself, never as what it points to.
Measurement measure(const std::filesystem::path& path, const Limits& limits = {});

} // namespace DownloadWatcher
