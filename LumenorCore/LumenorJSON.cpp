#include "LumenorCore/LumenorJSON.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <limits>
#include <optional>
#include <span>
#include <vector>

namespace LumenorJSON {
namespace {

using Json = nlohmann::json;
using Keys = std::span<const std::string_view>;

// ---- Writing ----------------------------------------------------------------------------------

// Length of the well-formed UTF-8 sequence starting at `bytes[at]`, or 0 when it is ill-formed
// (stray continuation, truncation, overlong form, surrogate or past U+10FFFF).
std::size_t sequenceLength(std::string_view bytes, std::size_t at) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    std::size_t length = 0;
    char32_t codePoint = 0, smallest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, codePoint = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, codePoint = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, codePoint = lead & 0x07, smallest = 0x10000;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(bytes[at + i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    return codePoint < smallest || codePoint > 0x10FFFF || surrogate ? 0 : length;
}

void appendAscii(std::string& out, char c) {
    switch (c) {
    case '"':
        out += "\\\"";
        return;
    case '\\':
        out += "\\\\";
        return;
    case '/':
        out += "\\/";
        return;
    case '\b':
        out += "\\b";
        return;
    case '\f':
        out += "\\f";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        break;
    }
    if (static_cast<unsigned char>(c) < 0x20) {
        static constexpr char hex[] = "0123456789abcdef";
        out += "\\u00";
        out += hex[c >> 4];
        out += hex[c & 0xF];
        return;
    }
    out += c;
}

bool needsEscape(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\' || c == '/';
}

// Non-ASCII text is written as it is; only its well-formedness is checked.
void appendString(std::string& out, std::string_view text) {
    out += '"';
    for (std::size_t at = 0; at < text.size();) {
        std::size_t plain = at;
        while (plain < text.size() && static_cast<unsigned char>(text[plain]) < 0x80 &&
               !needsEscape(text[plain]))
            ++plain;
        out.append(text.substr(at, plain - at));
        if ((at = plain) == text.size())
            break;
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            appendAscii(out, text[at++]);
            continue;
        }
        const std::size_t length = sequenceLength(text, at);
        if (length == 0)
            throw EncodingError("cannot encode a string that is not valid UTF-8");
        out.append(text.substr(at, length));
        at += length;
    }
    out += '"';
}

void appendDigits(std::string& out, unsigned value, int width) {
    char digits[10];
    for (int i = width - 1; i >= 0; --i, value /= 10)
        digits[i] = char('0' + value % 10);
    out.append(digits, std::size_t(width));
}

void appendInstant(std::string& out, Instant instant) {
    using namespace std::chrono;
    const auto second = floor<seconds>(instant);
    const auto day = floor<days>(second);
    const year_month_day date{day};
    const hh_mm_ss time{second - day};
    out += '"';
    appendDigits(out, unsigned(int(date.year())), 4);
    out += '-';
    appendDigits(out, unsigned(date.month()), 2);
    out += '-';
    appendDigits(out, unsigned(date.day()), 2);
    out += 'T';
    appendDigits(out, unsigned(time.hours().count()), 2);
    out += ':';
    appendDigits(out, unsigned(time.minutes().count()), 2);
    out += ':';
    appendDigits(out, unsigned(time.seconds().count()), 2);
    out += "Z\"";
}

// Writes one object; callers add members in byte order of their keys.
class ObjectWriter {
public:
    explicit ObjectWriter(std::string& out) : out(out) { out += '{'; }
    void name(std::string_view key) {
        if (!empty)
            out += ',';
        empty = false;
        appendString(out, key);
        out += ':';
    }
    void boolean(std::string_view key, bool value) {
        name(key);
        out += value ? "true" : "false";
    }
    void integer(std::string_view key, std::int64_t value) {
        name(key);
        out += std::to_string(value);
    }
    void string(std::string_view key, std::string_view value) {
        name(key);
        appendString(out, value);
    }
    void strings(std::string_view key, const std::vector<std::string>& values) {
        name(key);
        out += '[';
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i > 0)
                out += ',';
            appendString(out, values[i]);
        }
        out += ']';
    }
    void instant(std::string_view key, Instant value) {
        name(key);
        appendInstant(out, value);
    }
    void close() { out += '}'; }

private:
    std::string& out;
    bool empty = true;
};

void appendHold(std::string& out, const LumenorHold& hold) {
    ObjectWriter object(out);
    object.string("id", hold.id);
    object.string("label", hold.label);
    if (hold.pid)
        object.integer("pid", *hold.pid);
    object.instant("until", hold.until);
    object.close();
}

void appendInhibitor(std::string& out, const LumenorInhibitor& inhibitor) {
    ObjectWriter object(out);
    object.string("mode", inhibitor.mode);
    object.integer("pid", inhibitor.pid);
    object.string("what", inhibitor.what);
    object.string("who", inhibitor.who);
    object.string("why", inhibitor.why);
    object.close();
}

template <typename Item, typename Append>
void appendList(std::string& out, const std::vector<Item>& items, Append append) {
    out += '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            out += ',';
        append(out, items[i]);
    }
    out += ']';
}

void appendStatus(std::string& out, const LumenorStatus& status) {
    ObjectWriter object(out);
    object.boolean("awake", status.awake);
    if (status.batteryPercent)
        object.integer("batteryPercent", *status.batteryPercent);
    if (status.holdUntil)
        object.instant("holdUntil", *status.holdUntil);
    if (status.holds) {
        object.name("holds");
        appendList(out, *status.holds, appendHold);
    }
    if (status.inhibitorsHeld)
        object.strings("inhibitorsHeld", *status.inhibitorsHeld);
    object.boolean("keepDisplayOn", status.keepDisplayOn);
    object.boolean("lidClosedMode", status.lidClosedMode);
    object.boolean("lidClosedModeActive", status.lidClosedModeActive);
    object.boolean("lidClosedModeAvailable", status.lidClosedModeAvailable);
    if (status.lidHandledBy)
        object.string("lidHandledBy", *status.lidHandledBy);
    object.boolean("onBattery", status.onBattery);
    if (status.otherInhibitors) {
        object.name("otherInhibitors");
        appendList(out, *status.otherInhibitors, appendInhibitor);
    }
    if (status.pendingSleepAt)
        object.instant("pendingSleepAt", *status.pendingSleepAt);
    if (status.pendingSleepWaitingForPid)
        object.integer("pendingSleepWaitingForPid", *status.pendingSleepWaitingForPid);
    if (status.problem)
        object.string("problem", *status.problem);
    object.boolean("remoteWakeCycleArmed", status.remoteWakeCycleArmed);
    object.boolean("remoteWakeEnabled", status.remoteWakeEnabled);
    object.integer("remoteWakeIntervalMinutes", status.remoteWakeIntervalMinutes);
    if (status.sessionDescription)
        object.string("sessionDescription", *status.sessionDescription);
    if (status.sessionEndsAt)
        object.instant("sessionEndsAt", *status.sessionEndsAt);
    if (status.wakeHelperReady)
        object.boolean("wakeHelperReady", *status.wakeHelperReady);
    object.close();
}

// ---- Reading ----------------------------------------------------------------------------------

constexpr std::array<std::string_view, 2> requestKeys{"command", "options"};
constexpr std::array<std::string_view, 3> responseKeys{"message", "ok", "status"};
constexpr std::array<std::string_view, 21> statusKeys{"awake",
                                                      "batteryPercent",
                                                      "holdUntil",
                                                      "holds",
                                                      "inhibitorsHeld",
                                                      "keepDisplayOn",
                                                      "lidClosedMode",
                                                      "lidClosedModeActive",
                                                      "lidClosedModeAvailable",
                                                      "lidHandledBy",
                                                      "onBattery",
                                                      "otherInhibitors",
                                                      "pendingSleepAt",
                                                      "pendingSleepWaitingForPid",
                                                      "problem",
                                                      "remoteWakeCycleArmed",
                                                      "remoteWakeEnabled",
                                                      "remoteWakeIntervalMinutes",
                                                      "sessionDescription",
                                                      "sessionEndsAt",
                                                      "wakeHelperReady"};

// An array of objects among a record's members, and the keys its elements read.
struct ListShape {
    std::string_view key;
    Keys elementKeys;
};

constexpr std::array<std::string_view, 4> holdKeys{"id", "label", "pid", "until"};
constexpr std::array<std::string_view, 5> inhibitorKeys{"mode", "pid", "what", "who", "why"};
// A list of names keeps its strings; objects inside it keep nothing.
constexpr std::array<ListShape, 3> statusLists{
    {{"holds", holdKeys}, {"inhibitorsHeld", {}}, {"otherInhibitors", inhibitorKeys}}};

// The members a record reads: keys of the top object, and keys inside its nested object
// (none means every key, as for a request's options); lists of objects in the object at
// `listDepth` (1: the top object, 2: the nested one, 0: nowhere).
struct Shape {
    Keys top;
    std::optional<Keys> nested;
    std::size_t listDepth = 0;
    std::span<const ListShape> lists = {};
};

bool contains(Keys keys, std::string_view key) {
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

// Builds only what a record can use: the keys it knows, two levels of objects plus the known
// lists of flat objects, and in place of anything else an empty container of the same type.
// Whatever a peer sends, the tree holds the known members (and a request's options) only, and
// nesting costs no stack.
class BoundedBuilder : public nlohmann::json_sax<Json> {
public:
    explicit BoundedBuilder(const Shape& shape) : shape(shape) {}

    Json root;
    std::string error;

    bool null() override { return scalar(nullptr); }
    bool boolean(bool value) override { return scalar(value); }
    bool number_integer(number_integer_t value) override { return scalar(value); }
    bool number_unsigned(number_unsigned_t value) override { return scalar(value); }
    bool number_float(number_float_t value, const string_t&) override { return scalar(value); }
    bool string(string_t& value) override { return scalar(std::move(value)); }
    bool binary(binary_t&) override { return scalar(nullptr); }

    bool start_object(std::size_t) override {
        if (skipped > 0 || !wanted())
            return skip(Json::object());
        if (!open.empty() && open.back().list != nullptr) {
            open.push_back({place(Json::object()), open.back().list->elementKeys, nullptr});
            return true;
        }
        if (open.size() >= 2)
            return skip(Json::object());
        open.push_back({place(Json::object()), open.empty() ? shape.top : shape.nested, nullptr});
        return true;
    }
    bool start_array(std::size_t) override {
        const ListShape* list = nullptr;
        if (skipped == 0 && wanted() && open.size() == shape.listDepth) {
            for (const ListShape& candidate : shape.lists)
                if (candidate.key == pendingKey)
                    list = &candidate;
        }
        if (list == nullptr)
            return skip(Json::array());
        open.push_back({place(Json::array()), std::nullopt, list});
        return true;
    }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }

    bool key(string_t& key) override {
        if (skipped > 0)
            return true;
        const auto& keys = open.back().keys;
        keep = !keys || contains(*keys, key);
        pendingKey = std::move(key);
        return true;
    }

    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& exception) override {
        error = exception.what();
        return false;
    }

private:
    struct Frame {
        Json* node;
        std::optional<Keys> keys; // none: every key
        const ListShape* list;    // set for a known list
    };

    const Shape& shape;
    std::vector<Frame> open;
    std::size_t skipped = 0;
    std::string pendingKey;
    bool keep = false;

    bool wanted() const { return open.empty() || open.back().list != nullptr || keep; }

    Json* place(Json value) {
        if (open.empty()) {
            root = std::move(value);
            return &root;
        }
        Json& parent = *open.back().node;
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        return &(parent[pendingKey] = std::move(value));
    }
    bool scalar(Json value) {
        if (skipped == 0 && wanted())
            place(std::move(value));
        return true;
    }
    bool skip(Json placeholder) {
        if (skipped++ == 0 && wanted())
            place(std::move(placeholder));
        return true;
    }
    bool close() {
        if (skipped > 0)
            --skipped;
        else
            open.pop_back();
        return true;
    }
};

// "[json.exception.parse_error.101] parse error at …: reason; last read: '…'" without the
// library's tag and without the echo of the input.
std::string describeParseError(std::string message) {
    if (const auto tagEnd = message.find("] "); message.starts_with("[") && tagEnd != message.npos)
        message.erase(0, tagEnd + 2);
    if (const auto echo = message.find("; last read"); echo != message.npos)
        message.erase(echo);
    return message;
}

Json parse(std::string_view text, const Shape& shape) {
    BoundedBuilder builder(shape);
    if (!Json::sax_parse(text.begin(), text.end(), &builder))
        throw DecodingError("malformed JSON: " + describeParseError(builder.error));
    if (!builder.root.is_object())
        throw DecodingError("expected a JSON object");
    return std::move(builder.root);
}

bool readDigits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Seconds east of UTC for "Z", "+HH:MM" or "-HH:MM".
std::optional<int> readOffset(std::string_view zone) {
    if (zone == "Z")
        return 0;
    int hours = 0, minutes = 0;
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' ||
        !readDigits(zone, 1, 2, hours) || !readDigits(zone, 4, 2, minutes) || hours > 23 ||
        minutes > 59)
        return std::nullopt;
    return (zone[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
}

// "YYYY-MM-DDTHH:MM:SS" and a zone; no fraction of a second; only instants an Instant can hold.
std::optional<Instant> readInstant(std::string_view text) {
    using namespace std::chrono;
    int y, mo, d, h, mi, s;
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || !readDigits(text, 0, 4, y) ||
        !readDigits(text, 5, 2, mo) || !readDigits(text, 8, 2, d) || !readDigits(text, 11, 2, h) ||
        !readDigits(text, 14, 2, mi) || !readDigits(text, 17, 2, s))
        return std::nullopt;
    const auto offset = readOffset(text.substr(19));
    const year_month_day date{year{y}, month(unsigned(mo)), day(unsigned(d))};
    if (!offset || !date.ok() || h > 23 || mi > 59 || s > 59)
        return std::nullopt;
    const std::int64_t total = std::int64_t(sys_days(date).time_since_epoch().count()) * 86400 +
                               h * 3600 + mi * 60 + s - *offset;
    const std::int64_t limit = duration_cast<seconds>(Instant::duration::max()).count();
    if (total > limit || total < -limit)
        return std::nullopt;
    return Instant(seconds(total));
}

// Typed access to the members of one decoded object, with errors that name the key.
class Reader {
public:
    Reader(const Json& object, std::string prefix) : object(object), prefix(std::move(prefix)) {}

    const Json& require(std::string_view key) const {
        const Json* value = find(key);
        if (!value)
            throw DecodingError("missing key \"" + name(key) + "\"");
        return *value;
    }
    // None when the member is missing or null.
    const Json* optional(std::string_view key) const {
        const Json* value = find(key);
        return value && !value->is_null() ? value : nullptr;
    }

    bool boolean(std::string_view key) const { return asBoolean(key, require(key)); }
    std::string string(std::string_view key) const { return asString(key, require(key)); }
    template <typename Integer> Integer integer(std::string_view key) const {
        return asInteger<Integer>(key, require(key));
    }

    std::optional<bool> optionalBoolean(std::string_view key) const {
        const Json* value = optional(key);
        return value ? std::optional(asBoolean(key, *value)) : std::nullopt;
    }
    std::optional<std::string> optionalString(std::string_view key) const {
        const Json* value = optional(key);
        return value ? std::optional(asString(key, *value)) : std::nullopt;
    }
    template <typename Integer> std::optional<Integer> optionalInteger(std::string_view key) const {
        const Json* value = optional(key);
        return value ? std::optional(asInteger<Integer>(key, *value)) : std::nullopt;
    }
    std::optional<std::vector<std::string>> optionalStrings(std::string_view key) const {
        const Json* value = optional(key);
        if (!value)
            return std::nullopt;
        if (!value->is_array())
            fail(key, "must be a list of strings");
        std::vector<std::string> strings;
        for (const Json& item : *value) {
            if (!item.is_string())
                fail(key, "must be a list of strings");
            strings.push_back(item.get<std::string>());
        }
        return strings;
    }
    std::optional<Instant> optionalInstant(std::string_view key) const {
        const Json* value = optional(key);
        if (!value)
            return std::nullopt;
        const auto instant =
            value->is_string() ? readInstant(value->get_ref<const std::string&>()) : std::nullopt;
        if (!instant)
            fail(key, "must be a date-time such as 2026-12-05T18:30:00Z, in whole seconds");
        return instant;
    }

    // Each element of an optional array of objects, read by `read` with a reader of its own.
    template <typename Item, typename Read>
    std::optional<std::vector<Item>> optionalList(std::string_view key, Read read) const {
        const Json* value = optional(key);
        if (!value)
            return std::nullopt;
        if (!value->is_array())
            fail(key, "must be an array");
        std::vector<Item> items;
        for (std::size_t i = 0; i < value->size(); ++i) {
            const Json& element = (*value)[i];
            const std::string elementName = name(key) + "[" + std::to_string(i) + "].";
            if (!element.is_object())
                throw DecodingError("\"" + elementName.substr(0, elementName.size() - 1) +
                                    "\" must be an object");
            items.push_back(read(Reader(element, elementName)));
        }
        return items;
    }

    Instant instant(std::string_view key) const {
        require(key);
        const auto value = optionalInstant(key);
        if (!value)
            fail(key, "must be a date-time such as 2026-12-05T18:30:00Z, in whole seconds");
        return *value;
    }

    [[noreturn]] void fail(std::string_view key, const char* problem) const {
        throw DecodingError("\"" + name(key) + "\" " + problem);
    }

private:
    const Json& object;
    std::string prefix;

    const Json* find(std::string_view key) const {
        const auto member = object.find(key);
        return member == object.end() ? nullptr : &*member;
    }
    std::string name(std::string_view key) const { return prefix + std::string(key); }

    bool asBoolean(std::string_view key, const Json& value) const {
        if (!value.is_boolean())
            fail(key, "must be true or false");
        return value.get<bool>();
    }
    std::string asString(std::string_view key, const Json& value) const {
        if (!value.is_string())
            fail(key, "must be a string");
        return value.get<std::string>();
    }
    template <typename Integer> Integer asInteger(std::string_view key, const Json& value) const {
        using Limits = std::numeric_limits<Integer>;
        if (!value.is_number_integer())
            fail(key, "must be an integer");
        const bool fits = value.is_number_unsigned()
                              ? value.get<std::uint64_t>() <= std::uint64_t(Limits::max())
                              : value.get<std::int64_t>() >= Limits::min() &&
                                    value.get<std::int64_t>() <= Limits::max();
        if (!fits)
            fail(key, "is out of range");
        return static_cast<Integer>(value.get<std::int64_t>());
    }
};

LumenorHold readHold(const Reader& reader) {
    return LumenorHold{
        .id = reader.string("id"),
        .label = reader.string("label"),
        .until = reader.instant("until"),
        .pid = reader.optionalInteger<std::int32_t>("pid"),
    };
}

LumenorInhibitor readInhibitor(const Reader& reader) {
    return LumenorInhibitor{
        .who = reader.string("who"),
        .why = reader.string("why"),
        .what = reader.string("what"),
        .mode = reader.string("mode"),
        .pid = reader.integer<std::int32_t>("pid"),
    };
}

LumenorStatus readStatus(const Reader& reader) {
    return LumenorStatus{
        .awake = reader.boolean("awake"),
        .sessionDescription = reader.optionalString("sessionDescription"),
        .sessionEndsAt = reader.optionalInstant("sessionEndsAt"),
        .holdUntil = reader.optionalInstant("holdUntil"),
        .lidClosedMode = reader.boolean("lidClosedMode"),
        .lidClosedModeActive = reader.boolean("lidClosedModeActive"),
        .lidClosedModeAvailable = reader.boolean("lidClosedModeAvailable"),
        .keepDisplayOn = reader.boolean("keepDisplayOn"),
        .pendingSleepAt = reader.optionalInstant("pendingSleepAt"),
        .pendingSleepWaitingForPid =
            reader.optionalInteger<std::int32_t>("pendingSleepWaitingForPid"),
        .remoteWakeEnabled = reader.boolean("remoteWakeEnabled"),
        .remoteWakeIntervalMinutes = reader.integer<std::int64_t>("remoteWakeIntervalMinutes"),
        .remoteWakeCycleArmed = reader.boolean("remoteWakeCycleArmed"),
        .onBattery = reader.boolean("onBattery"),
        .batteryPercent = reader.optionalInteger<std::int64_t>("batteryPercent"),
        .holds = reader.optionalList<LumenorHold>("holds", readHold),
        .otherInhibitors = reader.optionalList<LumenorInhibitor>("otherInhibitors", readInhibitor),
        .wakeHelperReady = reader.optionalBoolean("wakeHelperReady"),
        .lidHandledBy = reader.optionalString("lidHandledBy"),
        .inhibitorsHeld = reader.optionalStrings("inhibitorsHeld"),
        .problem = reader.optionalString("problem"),
    };
}

} // namespace

std::string line(const LumenorRequest& request) {
    std::string out;
    ObjectWriter object(out);
    object.string("command", request.command);
    object.name("options");
    ObjectWriter options(out);
    for (const auto& [name, value] : request.options)
        options.string(name, value);
    options.close();
    object.close();
    return out += '\n';
}

std::string line(const LumenorResponse& response) {
    std::string out;
    out.reserve(512);
    ObjectWriter object(out);
    object.string("message", response.message);
    object.boolean("ok", response.ok);
    if (response.status) {
        object.name("status");
        appendStatus(out, *response.status);
    }
    object.close();
    return out += '\n';
}

std::string line(const LumenorStatus& status) {
    std::string out;
    out.reserve(512);
    appendStatus(out, status);
    return out += '\n';
}

template <> LumenorRequest decode<LumenorRequest>(std::string_view json) {
    const Json root = parse(json, {requestKeys, std::nullopt});
    const Reader reader(root, "");
    LumenorRequest request{reader.string("command"), {}};
    const Json& options = reader.require("options");
    if (!options.is_object())
        reader.fail("options", "must be an object");
    for (auto member = options.begin(); member != options.end(); ++member) {
        if (!member->is_string())
            reader.fail("options", "must map names to strings");
        request.options.emplace(member.key(), member->get<std::string>());
    }
    return request;
}

template <> LumenorResponse decode<LumenorResponse>(std::string_view json) {
    const Json root = parse(json, {responseKeys, statusKeys, 2, statusLists});
    const Reader reader(root, "");
    LumenorResponse response{reader.boolean("ok"), reader.string("message")};
    if (const Json* status = reader.optional("status")) {
        if (!status->is_object())
            reader.fail("status", "must be an object");
        response.status = readStatus(Reader(*status, "status."));
    }
    return response;
}

template <> LumenorStatus decode<LumenorStatus>(std::string_view json) {
    const Json root = parse(json, {statusKeys, Keys{}, 1, statusLists});
    return readStatus(Reader(root, ""));
}

} // namespace LumenorJSON
