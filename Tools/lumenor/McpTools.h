#pragma once

#include "LumenorCore/LumenorRequest.h"
#include "LumenorCore/LumenorResponse.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <variant>

/// The tools `lumenor mcp` offers. One table describes them for `tools/list` and routes
/// `tools/call`; each tool is one request (or a few) to the running app.
namespace McpTools {

/// The app's answer, or the words saying why there is none.
using Reply = std::variant<LumenorResponse, std::string>;
using Send = std::function<Reply(const LumenorRequest&)>;

/// What one client's connection remembers between calls.
struct Session {
    Send send;
    /// The process the holds are bound to: they end when it does.
    std::int32_t pid = 0;
    /// The client's own name from `initialize`, used to label its holds; empty before.
    std::string client;
    /// The holds this session took and has not released.
    std::set<std::string> holds;
    int taken = 0;
};

/// The `tools` array of a `tools/list` result.
nlohmann::json list();

/// A CallToolResult (a failure of the app or the computer is one with isError), or the message
/// of an invalid-params error when `name` is no tool or `arguments` do not fit its input schema.
std::variant<nlohmann::json, std::string> call(Session& session, std::string_view name,
                                               const nlohmann::json& arguments);

} // namespace McpTools
