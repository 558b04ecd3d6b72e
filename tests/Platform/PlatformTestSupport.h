#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

/// A fresh folder under the system's temporary folder, removed with everything in it.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    /// Writes `text` to `relative`, creating the folders on the way.
    std::filesystem::path write(const std::filesystem::path& relative,
                                const std::string& text) const;

private:
    std::filesystem::path path_;
};

/// The QCoreApplication that QtDBus and signal delivery need, created once per test program.
void ensureApplication();

/// Processes events until `condition` holds or `limit` passes; the last value of `condition`.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(5));
