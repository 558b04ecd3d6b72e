// Battery and lid state from the kernel's own files. Every file may be missing, unreadable,
// truncated or hold nonsense; each such piece of data is skipped, never reported.
#include "Lumenor/Platform/PowerControl.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace PowerControl {

namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

/// The first line of a small attribute file, trimmed; its first 4 KiB at most, which is all
/// the kernel ever writes there.
std::optional<std::string> readLine(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    char buffer[4096];
    stream.read(buffer, sizeof buffer);
    if (stream.bad() || (stream.fail() && stream.gcount() == 0)) {
        return std::nullopt;
    }
    const std::string text(buffer, static_cast<size_t>(stream.gcount()));
    return trimmed(text.substr(0, text.find('\n')));
}

std::optional<int64_t> readInteger(const fs::path& file) {
    const auto text = readLine(file);
    if (!text || text->empty()) {
        return std::nullopt;
    }
    int64_t value = 0;
    const char* end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, value);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

/// The folders directly under `root`, sorted by name so that "the last battery" is stable.
std::vector<fs::path> sortedEntries(const fs::path& root) {
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        entries.push_back(it->path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

/// now / full as a percentage, when both are sane. Some batteries report more than their
/// last full charge; that reads as full rather than above 100.
std::optional<int64_t> percentFrom(const fs::path& supply, const std::string& prefix) {
    const auto now = readInteger(supply / (prefix + "_now"));
    const auto full = readInteger(supply / (prefix + "_full"));
    if (!now || !full || *full <= 0 || *now < 0) {
        return std::nullopt;
    }
    const double percent =
        std::round(static_cast<double>(*now) / static_cast<double>(*full) * 100.0);
    return std::min<int64_t>(static_cast<int64_t>(percent), 100);
}

bool isInternalBattery(const fs::path& supply, const std::string& type) {
    // Mice, keyboards and headsets report their batteries with the scope "Device".
    return type == "Battery" && readLine(supply / "scope").value_or("") != "Device";
}

/// Mains adapters and USB power (USB, USB_C, USB_PD, …) feed the machine when online.
bool isExternalSupplyOnline(const fs::path& supply, const std::string& type) {
    const bool external = type == "Mains" || type.rfind("USB", 0) == 0;
    return external && readInteger(supply / "online") == 1;
}

} // namespace

Battery battery(const fs::path& powerSupplyRoot) {
    Battery result;
    bool hasBattery = false;
    bool externalPower = false;
    for (const fs::path& supply : sortedEntries(powerSupplyRoot)) {
        const std::string type = readLine(supply / "type").value_or("");
        if (isInternalBattery(supply, type)) {
            hasBattery = true;
            if (auto percent = percentFrom(supply, "energy")) {
                result.percent = percent;
            } else if (auto charge = percentFrom(supply, "charge")) {
                result.percent = charge;
            }
        } else if (isExternalSupplyOnline(supply, type)) {
            externalPower = true;
        }
    }
    result.onBattery = hasBattery && !externalPower;
    return result;
}

bool isLidClosed(const fs::path& lidRoot) {
    static const std::string label = "state:";
    for (const fs::path& lid : sortedEntries(lidRoot)) {
        std::ifstream stream(lid / "state");
        std::string line;
        while (std::getline(stream, line)) {
            // The kernel writes "state:      closed" or "state:      open".
            if (line.rfind(label, 0) == 0 && trimmed(line.substr(label.size())) == "closed") {
                return true;
            }
        }
    }
    return false;
}

} // namespace PowerControl
