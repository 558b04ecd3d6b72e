// One line from an MCP client, against an app that answers every request. Whatever arrives, the
// server answers with one JSON-RPC message or with nothing, and never throws.

#include "FuzzCheck.h"

#include "Tools/lumenor/McpServer.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    // The first byte, when there is one, decides whether the app agrees.
    const bool agrees = size == 0 || data[0] % 2 == 0;
    McpTools::Session session{
        .send = [agrees](const LumenorRequest& request) -> McpTools::Reply {
            LumenorStatus status{};
            status.holds = std::vector<LumenorHold>{
                {.id = request.options.count("id") ? request.options.at("id") : "x",
                 .label = "l",
                 .until = {}}};
            return LumenorResponse{.ok = agrees, .message = "m", .status = status};
        },
        .pid = 42};
    McpServer server(std::move(session), "0");
    // Twice through one server, so that what the first line changed (the client's name, the
    // holds it took) meets the second.
    for (int round = 0; round < 2; ++round) {
        const auto reply = server.handle(line);
        if (!reply)
            continue;
        FUZZ_CHECK(reply->find('\n') == std::string::npos);
        const auto message = nlohmann::json::parse(*reply, nullptr, false);
        FUZZ_CHECK(message.is_object() && message.value("jsonrpc", "") == "2.0");
        FUZZ_CHECK(message.contains("result") != message.contains("error"));
    }
    return 0;
}
