#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace PowerControl {

/// One inhibitor as logind lists it: what it blocks ("sleep:idle", "handle-lid-switch", …,
/// colon-separated), the program and reason it gave, "block" or "delay", and its owner.
struct Inhibitor {
    std::string what;
    std::string who;
    std::string why;
    std::string mode;
    uint32_t uid = 0;
    uint32_t pid = 0;
    bool operator==(const Inhibitor&) const = default;

    /// True when `what` names `kind` as one of its colon-separated words.
    bool blocks(const std::string& kind) const;
};

/// Every inhibitor logind holds, ours included; none when logind cannot be asked.
std::optional<std::vector<Inhibitor>> listInhibitors();

/// The name of the user with `uid`; empty when the system knows none.
std::string userName(uint32_t uid);

} // namespace PowerControl
