#pragma once

#include <chrono>
#include <optional>
#include <string>

/// Decides which process is the one serving app: the one holding an exclusive lock on
/// LumenorPaths::lockFile, for as long as it lives. The lock, unlike a probe of the socket,
/// cannot be won by two processes starting at the same moment.
class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    /// Creates the support folder (0700), takes the lock without waiting and, once it is ours,
    /// moves over what earlier versions left. When this process must not serve, says why on
    /// standard error and returns its exit status: 0 when another instance holds the lock
    /// (quietly: see anotherServes), 1 when the folder or lock file cannot be used. None when
    /// this process serves.
    std::optional<int> takeOrExplain();
    /// takeOrExplain found the lock held by a running instance.
    bool anotherServes() const { return anotherServes_; }
    /// After the lock was found held: waits up to `patience` for its holder to give it up (one
    /// that was just killed does within moments) and takes it; false when it stays held.
    bool takeOnceFreed(std::chrono::milliseconds patience);
    /// The lock file still at its path is the one this process locked (the folder may be
    /// removed while the app runs, and a second app would then take a new lock).
    bool stillHeld() const;
    /// Makes the folder and lock file again and takes the lock, keeping the old one until the
    /// new one is ours; false when another instance holds it by now or it cannot be made.
    bool retake();

private:
    void moveLegacyFiles();

    int fd_ = -1;
    bool anotherServes_ = false;
};

/// Why `path` cannot be served as the control socket, from the error its server start threw:
/// "Lumenor can't serve its control socket at PATH: CAUSE".
std::string socketFailureMessage(const std::string& path, const std::exception& error);
