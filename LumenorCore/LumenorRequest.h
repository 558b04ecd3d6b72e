#pragma once

#include <map>
#include <string>

/// What a client asks the running app for: one command word and its named arguments.
struct LumenorRequest {
    std::string command;
    /// Empty when the command takes no arguments; always present on the wire.
    std::map<std::string, std::string> options;

    bool operator==(const LumenorRequest&) const = default;
};
