// `lumenor mcp` against the real app: through the official SDK's client, and raw lines on stdio.

#include "App/Processes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QStandardPaths>

#include <csignal>

namespace {

using Json = nlohmann::json;

/// Where scripts/setup installs the SDK.
std::filesystem::path sdkFolder() {
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home ? home : "/root") / ".cache/lumenor-test/mcp-sdk";
}

std::string holdIds(const Sandbox& sandbox) {
    std::string ids;
    for (const Json& hold :
         Json::parse(lumenor(sandbox, {"holds", "--json"}).out)["status"].value("holds", Json()))
        ids += hold["id"].get<std::string>() + " ";
    return ids;
}

using McpServer = AppTest;

} // namespace

TEST_F(McpServer, TheSdkClientListsToolsTakesAndReleasesHoldsAndItsHoldsEndWithIt) {
    if (QStandardPaths::findExecutable("node").isEmpty())
        GTEST_SKIP() << "node is not installed (scripts/setup installs it)";
    if (!std::filesystem::exists(sdkFolder() / "node_modules/@modelcontextprotocol/sdk"))
        GTEST_SKIP() << "the MCP SDK is not in " << sdkFolder() << " (scripts/setup installs it)";
    startTheApp();
    QProcessEnvironment environment = sandbox.environment();
    environment.insert("MCP_SDK", QString::fromStdString(sdkFolder().string()));
    const Finished client =
        run("node", {LUMENOR_SOURCE_DIR "/tests/App/mcp-client.mjs"}, environment);
    EXPECT_EQ(client.status, 0) << client.err;
    EXPECT_TRUE(client.out.starts_with("ok: ")) << client.out;
}

// Each line gets its answer (by id and error code; 0 for a result) or, for a notification or a
// client's response, none; the server outlives every bad line and ends when its input does.
TEST_F(McpServer, AnswersEveryLineWithJsonRpcAndNeverAnythingElse) {
    const std::vector<std::pair<std::string, std::pair<Json, int>>> cases{
        {"not json", {nullptr, -32700}},
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\",\"params\":{\"x\":\"\xff\"}}",
         {nullptr, -32700}},
        {std::string(2 << 20, 'x'), {nullptr, -32700}},
        {std::string(100000, '['), {nullptr, -32600}},
        {R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", {nullptr, -32600}},
        {R"({"jsonrpc":"2.0","id":{},"method":"ping"})", {nullptr, -32600}},
        {R"({"jsonrpc":"1.0","id":2,"method":"ping"})", {2, -32600}},
        {R"({"jsonrpc":"2.0","id":"a","method":"resources/list"})", {"a", -32601}},
        {R"({"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"nope"}})", {3, -32602}},
        {R"({"jsonrpc":"2.0","id":4,"method":"tools/call","params":{"name":"keep_awake",)"
         R"("arguments":{"duration":5}}})",
         {4, -32602}},
        {R"({"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"name":"status",)"
         R"("arguments":{"verbose":true}}})",
         {5, -32602}},
        {R"({"jsonrpc":"2.0","id":6,"method":"tools/call","params":[]})", {6, -32602}},
        {R"({"jsonrpc":"2.0","method":"notifications/unknown","params":7})", {}},
        {R"({"jsonrpc":"2.0","id":99,"result":{}})", {}},
        {"", {}},
        {R"({"jsonrpc":"2.0","id":7,"method":"ping"})", {7, 0}},
        {R"({"jsonrpc":"2.0","id":9,"method":"initialize","params":{"protocolVersion":)"
         R"("2025-03-26"}})",
         {9, 0}},
    };
    std::string input;
    for (const auto& [line, expected] : cases)
        input += line + "\n";
    // The last line needs no line feed.
    input += R"({"jsonrpc":"2.0","id":8,"method":"initialize","params":{"protocolVersion":"1.0"}})";

    Child server("sh", {"-c", "exec \"$TOOL\" mcp"}, sandbox.environment(), true);
    server.write(input.data(), qint64(input.size()));
    server.closeWriteChannel();
    ASSERT_EQ(server.waitFor(20000), 0) << server.err();
    std::vector<Json> replies;
    for (const QByteArray& line : server.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            replies.push_back(Json::parse(line.toStdString())); // throws on anything but JSON
    std::size_t at = 0;
    for (const auto& [line, expected] : cases) {
        if (expected.first.is_null() && expected.second == 0)
            continue;
        SCOPED_TRACE(line.substr(0, 80));
        ASSERT_LT(at, replies.size());
        const Json& reply = replies[at++];
        EXPECT_EQ(reply["jsonrpc"], "2.0");
        EXPECT_EQ(reply["id"], expected.first);
        EXPECT_EQ(reply.contains("error") ? reply["error"]["code"].get<int>() : 0, expected.second)
            << reply.dump();
    }
    ASSERT_EQ(replies.size(), at + 1);
    EXPECT_EQ(replies[at - 1]["result"]["protocolVersion"], "2025-03-26");
    EXPECT_EQ(replies.back()["result"]["protocolVersion"], "2025-11-25");
    EXPECT_EQ(replies.back()["result"]["serverInfo"]["name"], "lumenor");
}

// An agent killed outright never closes the server's input; its holds must end all the same.
TEST_F(McpServer, HoldsEndWhenTheProcessThatStartedTheServerDies) {
    startTheApp();
    // The shell passes its input on explicitly: a background job would otherwise read /dev/null.
    Child agent("sh", {"-c", "exec 3<&0; \"$TOOL\" mcp <&3 & wait"}, sandbox.environment(), true);
    agent.write(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"keep_awake"}})"
                "\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return agent.canReadLine(); }, 20000));
    const Json reply = Json::parse(agent.readLine().toStdString());
    const std::string id = reply["result"]["structuredContent"]["id"];
    EXPECT_EQ(holdIds(sandbox), id + " ");
    ::kill(pid_t(agent.processId()), SIGKILL);
    EXPECT_TRUE(QTest::qWaitFor([&] { return holdIds(sandbox).empty(); }, 2000));
}
