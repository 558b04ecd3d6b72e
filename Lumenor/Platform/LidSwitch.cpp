#include "Lumenor/Platform/LidSwitch.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace LidSwitch {
namespace {

bool hasAcpiLid(const fs::path& acpiButtons) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(acpiButtons, error)) {
        if (entry.path().filename().string().starts_with("lid") &&
            !fs::is_empty(entry.path(), error) && !error) {
            return true;
        }
    }
    return false;
}

// capabilities/sw holds the switch bitmap as hex words, the lowest bits last; SW_LID is bit 0.
bool switchesIncludeLid(const fs::path& capabilities) {
    std::ifstream file(capabilities);
    std::string line, word, last;
    std::getline(file, line);
    for (std::istringstream words(line); words >> word;) {
        last = word;
    }
    return !last.empty() && (std::strtoull(last.c_str(), nullptr, 16) & 1u) != 0;
}

} // namespace

bool detected(const fs::path& acpiButtons, const fs::path& inputClass) {
    if (hasAcpiLid(acpiButtons)) {
        return true;
    }
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(inputClass, error)) {
        if (switchesIncludeLid(entry.path() / "capabilities" / "sw")) {
            return true;
        }
    }
    return false;
}

std::optional<bool> assumed(std::string_view value) {
    if (value == "1") {
        return true;
    }
    if (value == "0") {
        return false;
    }
    return std::nullopt;
}

bool present() {
    const char* value = std::getenv("LUMENOR_ASSUME_LID");
    if (const auto said = assumed(value != nullptr ? value : "")) {
        return *said;
    }
    return detected();
}

} // namespace LidSwitch
