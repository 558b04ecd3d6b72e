#include "LumenorCore/LumenorJSON.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>

using namespace std::chrono;
using namespace std::string_literals;
using LumenorJSON::decode;
using namespace ::testing;

namespace {

const Instant halfPastSix = sys_days{2026y / 12 / 5} + 18h + 30min;

LumenorStatus exampleStatus() {
    return {.awake = true,
            .holdUntil = halfPastSix,
            .lidClosedMode = true,
            .lidClosedModeActive = false,
            .lidClosedModeAvailable = true,
            .keepDisplayOn = false,
            .remoteWakeEnabled = false,
            .remoteWakeIntervalMinutes = 15,
            .remoteWakeCycleArmed = false,
            .onBattery = true,
            .batteryPercent = 82};
}

// The example status with `member` ("key":value) in place of the member of that key.
std::string withMember(const std::string& member) {
    nlohmann::json example = nlohmann::json::parse(LumenorJSON::line(exampleStatus()));
    example.erase(member.substr(1, member.find('"', 1) - 1));
    const std::string text = example.dump();
    return text.substr(0, text.size() - 1) + "," + member + "}";
}

template <typename Record> std::string failureOf(const std::string& json) {
    try {
        decode<Record>(json);
    } catch (const LumenorJSON::DecodingError& error) {
        return error.what();
    }
    return "decoded";
}

} // namespace

TEST(LumenorJSONTests, EncodingEscapesSortsAndOmits) {
    EXPECT_EQ(
        LumenorJSON::line(LumenorResponse{false, "a/b \"q\" \\ \n\t\x01\x7f é☀️"s + '\0'}),
        "{\"message\":\"a\\/b \\\"q\\\" \\\\ \\n\\t\\u0001\x7f é☀️\\u0000\",\"ok\":false}\n");
    EXPECT_EQ(LumenorJSON::line(LumenorRequest{"on", {{"é", "1"}, {"for", "30m"}, {"B", "x/y"}}}),
              "{\"command\":\"on\",\"options\":{\"B\":\"x\\/y\",\"for\":\"30m\",\"é\":\"1\"}}\n");
}

TEST(LumenorJSONTests, EveryMemberSitsInKeyOrderAndRoundTrips) {
    LumenorStatus status = exampleStatus();
    // Fractions are dropped towards the earlier second, before 1970 too.
    status.holdUntil = halfPastSix + 999ms;
    status.sessionEndsAt = sys_days{1969y / 12 / 31} + 23h + 59min + 59s + 500ms;
    status.pendingSleepAt = halfPastSix + 1h;
    status.pendingSleepWaitingForPid = -2147483647 - 1;
    status.sessionDescription = "Until 19:00 — “build”";
    status.holds = std::vector<LumenorHold>{{"build", "make -j8", halfPastSix, 311},
                                            {"task-7", "", halfPastSix}};
    status.inhibitorsHeld = std::vector<std::string>{"logind", "portal"};
    status.lidHandledBy = "Power Manager";
    status.otherInhibitors = std::vector<LumenorInhibitor>{
        {"GNOME Shell", "lid", "handle-lid-switch", "block", 9, 1000, "gdm"}};
    status.problem = "Couldn't keep the computer awake: a/b.";
    status.wakeHelperReady = false;
    const std::string line = LumenorJSON::line(LumenorResponse{true, "pong", status});
    EXPECT_EQ(
        line,
        R"({"message":"pong","ok":true,"status":{"awake":true,"batteryPercent":82,)"
        R"("holdUntil":"2026-12-05T18:30:00Z","holds":[{"id":"build","label":"make -j8","pid":311,)"
        R"("until":"2026-12-05T18:30:00Z"},{"id":"task-7","label":"",)"
        R"("until":"2026-12-05T18:30:00Z"}],"inhibitorsHeld":["logind","portal"],)"
        R"("keepDisplayOn":false,"lidClosedMode":true,"lidClosedModeActive":false,)"
        R"("lidClosedModeAvailable":true,"lidHandledBy":"Power Manager","onBattery":true,)"
        R"("otherInhibitors":[{"mode":"block","pid":9,"uid":1000,"user":"gdm","what":"handle-lid-switch",)"
        R"("who":"GNOME Shell","why":"lid"}],"pendingSleepAt":"2026-12-05T19:30:00Z",)"
        R"("pendingSleepWaitingForPid":-2147483648,)"
        R"("problem":"Couldn't keep the computer awake: a\/b.","remoteWakeCycleArmed":false,)"
        R"("remoteWakeEnabled":false,"remoteWakeIntervalMinutes":15,)"
        R"("sessionDescription":"Until 19:00 — “build”",)"
        R"("sessionEndsAt":"1969-12-31T23:59:59Z","wakeHelperReady":false}})"
        "\n");
    LumenorResponse decoded = decode<LumenorResponse>(line);
    EXPECT_EQ(LumenorJSON::line(decoded), line);
    decoded.status->inhibitorsHeld = std::vector<std::string>{};
    decoded.status->holds = std::vector<LumenorHold>{};
    EXPECT_EQ(decode<LumenorResponse>(LumenorJSON::line(decoded)), decoded);

    // Unknown members of an element are dropped and deeper nesting is skipped.
    const auto extra = decode<LumenorStatus>(withMember(
        R"("holds":[{"id":"a","label":"","until":"2026-12-05T18:30:00Z","x":[[[{}]]]}])"));
    EXPECT_EQ(extra.holds->front().id, "a");
}

TEST(LumenorJSONTests, InvalidUtf8IsReplacedInAnswersAndRefusedInRequests) {
    // A bad lead byte, a truncated, an overlong, a surrogate and a too large sequence.
    for (const std::string bad : {"\xff", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80"}) {
        EXPECT_THROW(LumenorJSON::line(LumenorRequest{"on", {{"app", bad}}}),
                     LumenorJSON::EncodingError);
        EXPECT_TRUE(decode<LumenorResponse>(LumenorJSON::line(LumenorResponse{true, "ok " + bad}))
                        .message.starts_with("ok \uFFFD"));
    }
    EXPECT_THROW(LumenorJSON::line(LumenorRequest{"on", {{"\xff", "x"}}}),
                 LumenorJSON::EncodingError);
    EXPECT_NO_THROW(LumenorJSON::line(LumenorRequest{"\xf4\x8f\xbf\xbf", {}}));
}

TEST(LumenorJSONTests, DecodingNeedsEveryFieldWithItsType) {
    const std::pair<const char*, const char*> requestFailures[] = {
        {R"({"command":"ping"})", "missing key \"options\""},
        {R"({"command":"ping","options":null})", "\"options\" must be an object"},
        {R"({"command":7,"options":{}})", "\"command\" must be a string"},
        {R"({"command":"on","options":{"for":["30m"]}})", "\"options\" must map names to strings"},
        {R"(["ping"])", "expected a JSON object"},
        // Which of two equal keys counts depends on the reader: refused, never guessed.
        {R"({"command":"on","options":{"for":"1m","for":"9h"}})", "duplicate key “for”"}};
    for (const auto& [text, failure] : requestFailures)
        EXPECT_EQ(failureOf<LumenorRequest>(text), failure) << text;
    EXPECT_EQ(failureOf<LumenorResponse>(R"({"ok":"true","message":"hi"})"),
              "\"ok\" must be true or false");
    EXPECT_EQ(failureOf<LumenorResponse>(R"({"ok":true,"message":"hi","status":{"awake":true}})"),
              "missing key \"status.keepDisplayOn\"");

    // Unknown members are skipped however deep they go; null optionals are none.
    const std::string deep = std::string(20'000, '[') + std::string(20'000, ']');
    EXPECT_EQ(decode<LumenorRequest>(R"({"x":)" + deep + R"(,"command":"on","options":{"a":"1"}})"),
              (LumenorRequest{"on", {{"a", "1"}}}));
    EXPECT_EQ(decode<LumenorResponse>(R"({"ok":true,"message":"hi","status":null,"z":{}})"),
              (LumenorResponse{true, "hi"}));

    for (const std::string text : {"", "{} trailing", "{\"command\":\"\xff\"}"})
        EXPECT_THAT(failureOf<LumenorRequest>(text),
                    AllOf(StartsWith("malformed JSON: parse error at line 1, column "),
                          Not(HasSubstr("last read"))));
}

TEST(LumenorJSONTests, MembersMustHaveTheShapeAndRangeOfTheirField) {
    EXPECT_EQ(decode<LumenorStatus>(withMember(R"("pendingSleepWaitingForPid":2147483647)"))
                  .pendingSleepWaitingForPid,
              2147483647);
    const std::pair<const char*, const char*> failures[] = {
        {R"("pendingSleepWaitingForPid":2147483648)",
         "\"pendingSleepWaitingForPid\" is out of range"},
        {R"("pendingSleepWaitingForPid":-2147483649)",
         "\"pendingSleepWaitingForPid\" is out of range"},
        {R"("batteryPercent":9223372036854775808)", "\"batteryPercent\" is out of range"},
        {R"("batteryPercent":82.0)", "\"batteryPercent\" must be an integer"},
        {R"("holds":{})", "\"holds\" must be an array"},
        {R"("holds":[7])", "\"holds[0]\" must be an object"},
        {R"("holds":[{"id":"a","label":""}])", "missing key \"holds[0].until\""},
        {R"("inhibitorsHeld":"logind")", "\"inhibitorsHeld\" must be a list of strings"},
        {R"("inhibitorsHeld":["logind",1])", "\"inhibitorsHeld\" must be a list of strings"}};
    for (const auto& [member, failure] : failures)
        EXPECT_EQ(failureOf<LumenorStatus>(withMember(member)), failure) << member;

    const auto withHold = [](const std::string& value) {
        std::string text = LumenorJSON::line(exampleStatus());
        return text.replace(text.find("2026-12-05T18:30:00Z"), 20, value);
    };
    EXPECT_EQ(decode<LumenorStatus>(withHold("2026-12-05T13:00:00-05:30")).holdUntil, halfPastSix);
    EXPECT_EQ(decode<LumenorStatus>(withHold("2024-02-29T00:00:00Z")).holdUntil,
              sys_days{2024y / 2 / 29});
    for (const std::string bad :
         {"2026-12-05T18:30:00.500Z", "2026-12-05 18:30:00Z", "2026-02-29T18:30:00Z",
          "2026-12-05T24:00:00Z", "2026-12-05T18:30:60Z", "2026-12-05T18:30:00+24:00",
          "9999-12-31T23:59:59Z"}) {
        EXPECT_EQ(
            failureOf<LumenorStatus>(withHold(bad)),
            "\"holdUntil\" must be a date-time such as 2026-12-05T18:30:00Z, in whole seconds")
            << bad;
    }
}
