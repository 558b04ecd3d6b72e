#include "Support/FakeWorkspace.h"

bool FakeWorkspace::fileExists(const std::filesystem::path& path) {
    fileQueries.push_back(path);
    std::error_code ignored;
    return files.count(path) != 0 || (checkRealFiles && std::filesystem::exists(path, ignored));
}
