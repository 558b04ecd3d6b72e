#pragma once

#include "Tools/lumenor/McpTools.h"

#include <optional>
#include <string>
#include <string_view>

/// `lumenor mcp`: the Model Context Protocol over standard input and output, one JSON-RPC 2.0
/// message per line. Standard output carries nothing else; diagnostics go to standard error.
class McpServer {
public:
    McpServer(McpTools::Session session, std::string version)
        : session_(std::move(session)), version_(std::move(version)) {}

    /// The reply to one line from the client (without its line feed); none for a notification,
    /// a response or a blank line. Never throws.
    std::optional<std::string> handle(std::string_view line);

    /// Serves standard input until it closes or the process that started this one ends, then
    /// returns the exit status. The holds taken are bound to this process, so they end with it.
    int serve();

private:
    std::optional<std::string> request(const nlohmann::json& message);
    nlohmann::json initialize(const nlohmann::json& params);

    McpTools::Session session_;
    std::string version_;
};
