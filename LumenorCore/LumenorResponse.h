#pragma once

#include "LumenorCore/LumenorStatus.h"

#include <optional>
#include <string>

/// The answer to every request.
struct LumenorResponse {
    bool ok;
    /// Text for a person, in success and in failure.
    std::string message;
    /// The app's state after the command, when the command reports it.
    std::optional<LumenorStatus> status = std::nullopt;

    bool operator==(const LumenorResponse&) const = default;
};
