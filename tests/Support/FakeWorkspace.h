#pragma once

#include "Lumenor/Platform/Workspace.h"
#include "LumenorCore/ProcessTree.h"

#include <filesystem>
#include <set>
#include <vector>

/// A desktop with scripted applications and files, whose events a test fires.
class FakeWorkspace : public Workspace {
public:
    std::vector<RunningApplication> applications;
    /// The paths that exist as far as fileExists is concerned.
    std::set<std::filesystem::path> files;
    std::set<int32_t> watchedPids;
    bool batteryWatched = false;

    std::vector<RunningApplication> runningApplications() override { return applications; }
    void watchProcess(int32_t pid) override { watchedPids.insert(pid); }
    void unwatchProcess(int32_t pid) override { watchedPids.erase(pid); }
    bool fileExists(const std::filesystem::path& path) override { return files.contains(path); }
    void watchBattery(bool on) override { batteryWatched = on; }

    void fireResume() { emit resumedFromSuspend(); }
    /// Reports the end of each watched process that no longer runs, as its pidfd would.
    void endDeadProcesses() {
        const auto pids = watchedPids;
        for (const int32_t pid : pids)
            if (!ProcessTree::isAlive(pid))
                fireEnded(pid);
    }
    /// Ends a watched process as the system would report it.
    void fireEnded(int32_t pid) {
        if (watchedPids.erase(pid) != 0)
            emit processEnded(pid);
    }
};
