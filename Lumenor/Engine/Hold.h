#pragma once

#include "LumenorCore/Instant.h"

#include <cstdint>
#include <optional>
#include <string>

/// A named reason to stay awake that a caller took and releases by id: until `until`, and while
/// `pid` runs when it names a process.
struct Hold {
    std::string id;
    Instant until;
    /// What the holder called it; empty for none.
    std::string label;
    std::optional<int32_t> pid;
    /// Keeps the display lit too.
    bool display = false;
    bool operator==(const Hold&) const = default;
};
