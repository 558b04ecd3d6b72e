#include "Tools/lumenor/McpTools.h"

#include "LumenorCore/LumenorJSON.h"

#include <algorithm>
#include <array>
#include <span>

namespace McpTools {
namespace {

using Json = nlohmann::json;

struct Param {
    std::string_view name;
    std::string_view type; // "string" or "boolean"
    std::string_view description;
};

using Handler = Json (*)(Session&, const Json& arguments);

struct Tool {
    std::string_view name;
    std::string_view title;
    std::string_view description;
    std::span<const Param> params;
    /// JSON Schema of structuredContent.
    std::string_view outputSchema;
    bool readOnly;
    bool destructive;
    Handler run;
};

// ---- results ------------------------------------------------------------------------------------

Json textBlock(const std::string& text) {
    return Json::array({{{"type", "text"}, {"text", text}}});
}

Json failure(const std::string& text) {
    return {{"content", textBlock(text)}, {"isError", true}};
}

Json success(const std::string& text, Json structured) {
    return {{"content", textBlock(text)}, {"structuredContent", std::move(structured)}};
}

/// The status as `lumenor status --json` prints it, so both speak the same keys and formats.
Json statusJson(const LumenorResponse& response) {
    if (!response.status) {
        return Json::object();
    }
    try {
        return Json::parse(LumenorJSON::line(*response.status));
    } catch (const std::exception&) {
        return Json::object();
    }
}

/// Sends a request; the reply when the app did what was asked, else the failure result to give.
std::variant<LumenorResponse, Json> ask(Session& session, LumenorRequest request) {
    Reply reply = session.send(request);
    if (const auto* reason = std::get_if<std::string>(&reply)) {
        return failure(*reason);
    }
    auto& response = std::get<LumenorResponse>(reply);
    if (!response.ok) {
        return failure(response.message);
    }
    return std::move(response);
}

std::string text(const Json& arguments, const char* key, std::string fallback = {}) {
    return arguments.contains(key) ? arguments[key].get<std::string>() : fallback;
}

bool yes(const Json& arguments, const char* key, bool fallback) {
    return arguments.contains(key) ? arguments[key].get<bool>() : fallback;
}

// ---- the tools ----------------------------------------------------------------------------------

Json keepAwake(Session& session, const Json& arguments) {
    const std::string id =
        "mcp-" + std::to_string(session.pid) + "-" + std::to_string(++session.taken);
    const std::string label =
        text(arguments, "label", session.client.empty() ? "MCP client" : session.client);
    LumenorRequest request{"hold",
                           {{"id", id},
                            {"for", text(arguments, "duration", "1h")},
                            {"label", label},
                            {"pid", std::to_string(session.pid)}}};
    if (yes(arguments, "display", false)) {
        request.options["display"] = "1";
    }
    auto asked = ask(session, request);
    if (const Json* failed = std::get_if<Json>(&asked)) {
        return *failed;
    }
    const auto& response = std::get<LumenorResponse>(asked);
    session.holds.insert(id);
    Json structured{{"id", id}, {"label", label}};
    for (const Json& hold : statusJson(response).value("holds", Json::array())) {
        if (hold.value("id", "") == id && hold.contains("until")) {
            structured["until"] = hold["until"];
        }
    }
    return success(response.message + ". It ends early when this MCP client goes away; "
                                      "call allow_sleep when the work is done.",
                   structured);
}

Json releaseOne(Session& session, const std::string& id) {
    auto asked = ask(session, {"release", {{"id", id}}});
    if (const Json* failed = std::get_if<Json>(&asked)) {
        return *failed;
    }
    session.holds.erase(id);
    return success(std::get<LumenorResponse>(asked).message, {{"released", Json::array({id})}});
}

/// Releases the holds of this session that are still in force; those that ended by themselves
/// need nothing.
Json releaseSession(Session& session) {
    auto listed = ask(session, {"holds", {}});
    if (const Json* failed = std::get_if<Json>(&listed)) {
        return *failed;
    }
    std::set<std::string> current;
    for (const Json& hold : statusJson(std::get<LumenorResponse>(listed)).value("holds", Json())) {
        current.insert(hold.value("id", ""));
    }
    Json released = Json::array();
    for (const std::string& id : std::set(session.holds)) {
        if (current.contains(id)) {
            const Json result = releaseOne(session, id);
            if (result.contains("isError")) {
                return result;
            }
            released.push_back(id);
        }
        session.holds.erase(id);
    }
    std::string message = released.empty() ? "This session holds nothing now." : "Released";
    for (std::size_t i = 0; i < released.size(); ++i) {
        message += (i == 0 ? " " : ", ") + released[i].get<std::string>() +
                   (i + 1 == released.size() ? "." : "");
    }
    return success(message, {{"released", released}});
}

Json allowSleep(Session& session, const Json& arguments) {
    return arguments.contains("id") ? releaseOne(session, text(arguments, "id"))
                                    : releaseSession(session);
}

/// Asks the app `command` and passes on its status whole, or the part under `key` as `as`.
Json query(Session& session, const char* command, const char* key = nullptr,
           const char* as = nullptr) {
    auto asked = ask(session, {command, {}});
    if (const Json* failed = std::get_if<Json>(&asked)) {
        return *failed;
    }
    const auto& response = std::get<LumenorResponse>(asked);
    Json status = statusJson(response);
    if (key == nullptr) {
        return success(response.message, status);
    }
    return success(response.message, {{as, status.value(key, Json::array())}});
}

Json status(Session& session, const Json&) {
    return query(session, "status");
}
Json listHolds(Session& session, const Json&) {
    return query(session, "holds", "holds", "holds");
}
Json listInhibitors(Session& session, const Json&) {
    return query(session, "inhibitors", "otherInhibitors", "inhibitors");
}

Json sleep(Session& session, const Json& arguments) {
    LumenorRequest request{"sleep", {}};
    if (yes(arguments, "cancel", false)) {
        if (arguments.size() > 1) {
            return failure("cancel takes no other arguments.");
        }
        request.command = "cancel-sleep";
    }
    if (arguments.contains("in")) {
        request.options["in"] = text(arguments, "in");
    }
    if (!yes(arguments, "after_holds", true)) {
        request.options["now"] = "1";
    }
    if (request.command == "sleep" && !session.client.empty()) {
        request.options["by"] = session.client;
    }
    auto asked = ask(session, request);
    if (const Json* failed = std::get_if<Json>(&asked)) {
        return *failed;
    }
    const auto& response = std::get<LumenorResponse>(asked);
    const Json state = statusJson(response);
    Json structured{{"pending", state.contains("pendingSleepAt")}};
    if (state.contains("pendingSleepAt")) {
        structured["at"] = state["pendingSleepAt"];
    }
    return success(response.message, structured);
}

// ---- the table ----------------------------------------------------------------------------------

constexpr std::array keepAwakeParams{
    Param{"duration", "string", "How long to stay awake at most: 30m, 2h, 1h30m (1h by default)."},
    Param{"label", "string", "What the status calls the hold (the client's name by default)."},
    Param{"display", "boolean", "Keep the display lit too."},
};
constexpr std::array allowSleepParams{
    Param{"id", "string", "The hold to end; every hold this session took when left out."},
};
constexpr std::array sleepParams{
    Param{"in", "string", "Sleep after this delay: 20s (the default), 5m."},
    Param{"after_holds", "boolean",
          "Wait until every hold has ended (true by default); false sleeps regardless."},
    Param{"cancel", "boolean", "Cancel a pending sleep instead; takes no other arguments."},
};

const std::array<Tool, 6>& tools() {
    static const std::array<Tool, 6> table{{
        {"keep_awake", "Keep the computer awake",
         "Keep the computer awake for long work; ends after the duration, on allow_sleep, or "
         "when this client exits.",
         keepAwakeParams,
         R"({"type":"object","properties":{"id":{"type":"string"},"label":{"type":"string"},)"
         R"("until":{"type":"string"}},"required":["id","label"]})",
         false, false, keepAwake},
        {"allow_sleep", "Allow sleep again",
         "End a hold taken with keep_awake, or every hold this session took.", allowSleepParams,
         R"({"type":"object","properties":{"released":{"type":"array","items":{"type":"string"}}},)"
         R"("required":["released"]})",
         false, false, allowSleep},
        {"status",
         "Lumenor status",
         "What keeps the computer awake now: session, holds, pending sleep, battery, problems.",
         {},
         R"({"type":"object","properties":{"awake":{"type":"boolean"},)"
         R"("problem":{"type":"string"}},"required":["awake"]})",
         true,
         false,
         status},
        {"list_holds",
         "List holds",
         "List every hold keeping the computer awake, with its end.",
         {},
         R"({"type":"object","properties":{"holds":{"type":"array","items":{"type":"object",)"
         R"("properties":{"id":{"type":"string"},"label":{"type":"string"},)"
         R"("until":{"type":"string"},"pid":{"type":"integer"}},"required":["id","until"]}}},)"
         R"("required":["holds"]})",
         true,
         false,
         listHolds},
        {"list_inhibitors",
         "List other inhibitors",
         "List other programs' logind inhibitors: who, why, what they block, and how.",
         {},
         R"({"type":"object","properties":{"inhibitors":{"type":"array","items":{"type":"object",)"
         R"("properties":{"who":{"type":"string"},"why":{"type":"string"},"what":{"type":"string"},)"
         R"("mode":{"type":"string"},"pid":{"type":"integer"}}}}},"required":["inhibitors"]})",
         true,
         false,
         listInhibitors},
        {"sleep", "Put the computer to sleep",
         "Put the computer to sleep after a delay, once every hold has ended; or cancel that.",
         sleepParams,
         R"({"type":"object","properties":{"pending":{"type":"boolean"},"at":{"type":"string"}},)"
         R"("required":["pending"]})",
         false, true, sleep},
    }};
    return table;
}

Json inputSchema(const Tool& tool) {
    Json properties = Json::object();
    for (const Param& param : tool.params) {
        properties[std::string(param.name)] = {{"type", param.type},
                                               {"description", param.description}};
    }
    return {{"type", "object"}, {"properties", properties}, {"additionalProperties", false}};
}

/// Why `arguments` do not fit the tool's input schema; none when they do.
std::optional<std::string> misfit(const Tool& tool, const Json& arguments) {
    if (!arguments.is_object()) {
        return "arguments must be an object";
    }
    for (const auto& item : arguments.items()) {
        const std::string& key = item.key();
        const Json& value = item.value();
        const auto param = std::find_if(tool.params.begin(), tool.params.end(),
                                        [&](const Param& p) { return p.name == key; });
        if (param == tool.params.end()) {
            return std::string(tool.name) + " takes no argument “" + key + "”";
        }
        const bool fits = param->type == "boolean" ? value.is_boolean() : value.is_string();
        if (!fits) {
            return key + " must be a " + std::string(param->type);
        }
    }
    return std::nullopt;
}

} // namespace

nlohmann::json list() {
    Json listed = Json::array();
    for (const Tool& tool : tools()) {
        listed.push_back({{"name", tool.name},
                          {"title", tool.title},
                          {"description", tool.description},
                          {"inputSchema", inputSchema(tool)},
                          {"outputSchema", Json::parse(tool.outputSchema)},
                          {"annotations",
                           {{"title", tool.title},
                            {"readOnlyHint", tool.readOnly},
                            {"destructiveHint", tool.destructive},
                            {"idempotentHint", tool.readOnly},
                            {"openWorldHint", false}}}});
    }
    return listed;
}

std::variant<nlohmann::json, std::string> call(Session& session, std::string_view name,
                                               const nlohmann::json& arguments) {
    const auto& all = tools();
    const auto tool = std::find_if(all.begin(), all.end(),
                                   [&](const Tool& candidate) { return candidate.name == name; });
    if (tool == all.end()) {
        return "Unknown tool “" + std::string(name) + "”";
    }
    const Json given = arguments.is_null() ? Json::object() : arguments;
    if (auto wrong = misfit(*tool, given)) {
        return *wrong;
    }
    return tool->run(session, given);
}

} // namespace McpTools
