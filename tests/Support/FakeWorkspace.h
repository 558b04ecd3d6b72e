#pragma once

#include "Lumenor/Platform/Workspace.h"

#include <filesystem>
#include <set>
#include <vector>

/// A desktop with scripted applications and files, whose wake and quit events a test fires.
class FakeWorkspace : public Workspace {
public:
    std::vector<RunningApplication> applications;
    /// The paths that exist as far as fileExists is concerned.
    std::set<std::filesystem::path> files;
    std::vector<int32_t> watchedPids;

    std::vector<RunningApplication> runningApplications() override { return applications; }
    void watchApplication(int32_t pid) override { watchedPids.push_back(pid); }
    bool fileExists(const std::filesystem::path& path) override { return files.contains(path); }

    void fireWake() { emit didWake(); }
    void fireTerminated(int32_t pid) { emit didTerminateApplication(pid); }
};
