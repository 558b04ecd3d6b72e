#include "Tools/lumenor/McpServer.h"

#include "LumenorCore/ProcessTree.h"

#include <array>
#include <cerrno>
#include <csignal>

#include <poll.h>
#include <unistd.h>

namespace {

using Json = nlohmann::json;

/// The revisions this server speaks, newest first; a client asking for another gets the newest.
constexpr std::array protocolVersions{"2025-11-25", "2025-06-18", "2025-03-26", "2024-11-05"};

enum ErrorCode {
    parseError = -32700,
    invalidRequest = -32600,
    methodNotFound = -32601,
    invalidParams = -32602,
    internalError = -32603,
};

/// Messages nest a few levels; a line nested deeper is no request, and is refused before it
/// costs a parser's memory.
constexpr int deepestNesting = 64;
/// A request is a few hundred bytes; this leaves room for long labels and still bounds memory.
constexpr std::size_t longestLine = 1 << 20;

std::string encode(const Json& message) {
    return message.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string errorLine(const Json& id, int code, const std::string& message) {
    return encode(
        {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
}

std::string resultLine(const Json& id, Json result) {
    return encode({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
}

bool nestsTooDeeply(std::string_view line) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (inString) {
            i += c == '\\' ? 1 : 0;
            inString = c != '"';
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > deepestNesting) {
                return true;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

bool blank(std::string_view line) {
    return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

/// Writes one message and its line feed; false once the client no longer reads.
bool send(const std::string& line) {
    const std::string bytes = line + "\n";
    for (std::size_t written = 0; written < bytes.size();) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::optional<std::string> McpServer::handle(std::string_view line) {
    if (blank(line)) {
        return std::nullopt;
    }
    if (nestsTooDeeply(line)) {
        return errorLine(nullptr, invalidRequest, "Invalid request: nested too deeply");
    }
    const Json message = Json::parse(line, nullptr, false);
    if (message.is_discarded()) {
        return errorLine(nullptr, parseError, "Parse error: the line is not JSON");
    }
    try {
        return request(message);
    } catch (const std::exception& error) {
        // A type the checks let through; the client is told and the server keeps serving.
        const Json id = message.is_object() ? message.value("id", Json()) : Json();
        return errorLine(id.is_string() || id.is_number() ? id : Json(), internalError,
                         std::string("Internal error: ") + error.what());
    }
}

std::optional<std::string> McpServer::request(const Json& message) {
    if (!message.is_object()) {
        return errorLine(nullptr, invalidRequest,
                         message.is_array() ? "Invalid request: batches are not accepted"
                                            : "Invalid request: not an object");
    }
    const bool hasId = message.contains("id");
    const Json id = message.value("id", Json());
    if (hasId && !id.is_string() && !id.is_number()) {
        return errorLine(nullptr, invalidRequest, "Invalid request: id must be a string or number");
    }
    if (!message.contains("method") && (message.contains("result") || message.contains("error"))) {
        return std::nullopt; // a response; this server asks the client nothing
    }
    if (message.value("jsonrpc", Json()) != "2.0" || !message.contains("method") ||
        !message["method"].is_string()) {
        return errorLine(id, invalidRequest,
                         "Invalid request: needs \"jsonrpc\":\"2.0\" and a method name");
    }
    const std::string method = message["method"];
    const Json params = message.value("params", Json::object());
    if (!hasId) {
        return std::nullopt; // notifications need nothing from us: initialized, cancelled, …
    }
    if (!params.is_object()) {
        return errorLine(id, invalidParams, "Invalid params: params must be an object");
    }
    if (method == "initialize") {
        return resultLine(id, initialize(params));
    }
    if (method == "ping") {
        return resultLine(id, Json::object());
    }
    if (method == "tools/list") {
        return resultLine(id, {{"tools", McpTools::list()}});
    }
    if (method != "tools/call") {
        return errorLine(id, methodNotFound, "Method not found: " + method);
    }
    if (!params.contains("name") || !params["name"].is_string()) {
        return errorLine(id, invalidParams, "Invalid params: tools/call needs a tool name");
    }
    auto called = McpTools::call(session_, params["name"].get<std::string>(),
                                 params.value("arguments", Json()));
    if (const auto* wrong = std::get_if<std::string>(&called)) {
        return errorLine(id, invalidParams, "Invalid params: " + *wrong);
    }
    return resultLine(id, std::get<Json>(std::move(called)));
}

Json McpServer::initialize(const Json& params) {
    std::string version = protocolVersions.front();
    const Json asked = params.value("protocolVersion", Json());
    for (const char* known : protocolVersions) {
        if (asked == known) {
            version = known;
        }
    }
    const Json client = params.value("clientInfo", Json::object());
    if (client.is_object() && client.value("name", Json()).is_string()) {
        session_.client = client["name"].get<std::string>();
    }
    return {{"protocolVersion", version},
            {"capabilities", {{"tools", {{"listChanged", false}}}}},
            {"serverInfo", {{"name", "lumenor"}, {"title", "Lumenor"}, {"version", version_}}},
            {"instructions",
             "Call keep_awake before long work (builds, test runs, downloads) and allow_sleep "
             "when it is done; holds also end when this server exits. sleep puts the computer to "
             "sleep once every hold has ended."}};
}

int McpServer::serve() {
    // A client that stops reading must end this server, not kill it mid-write.
    ::signal(SIGPIPE, SIG_IGN);
    const pid_t parent = ::getppid();
    const int parentGone = ProcessTree::openPidfd(parent);
    std::string pending;
    bool skipping = false; // inside a line already refused as too long
    std::array<char, 65536> chunk{};
    for (;;) {
        if (::getppid() != parent) {
            return 0;
        }
        std::array<pollfd, 2> watched{{{STDIN_FILENO, POLLIN, 0}, {parentGone, POLLIN, 0}}};
        // Without a pidfd the parent is looked at once a second.
        const int ready =
            ::poll(watched.data(), parentGone >= 0 ? 2 : 1, parentGone >= 0 ? -1 : 1000);
        if (ready < 0 && errno != EINTR) {
            return 1;
        }
        if (ready <= 0) {
            continue;
        }
        if (watched[1].revents != 0) {
            return 0;
        }
        const ssize_t got = ::read(STDIN_FILENO, chunk.data(), chunk.size());
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        const bool ended = got <= 0;
        pending.append(chunk.data(), ended ? 0 : static_cast<std::size_t>(got));
        if (ended && !pending.empty() && !skipping) {
            pending += '\n'; // the last line needs no line feed
        }
        std::size_t start = 0;
        for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos;
             start = end + 1) {
            const std::string_view line(pending.data() + start, end - start);
            const auto reply = skipping ? std::nullopt : handle(line);
            skipping = false;
            if (reply && !send(*reply)) {
                return 0;
            }
        }
        pending.erase(0, start);
        if (pending.size() > longestLine && !skipping) {
            skipping = true;
            pending.clear();
            if (!send(errorLine(nullptr, parseError, "Parse error: line too long"))) {
                return 0;
            }
        } else if (skipping) {
            pending.clear();
        }
        if (ended) {
            return 0;
        }
    }
}
