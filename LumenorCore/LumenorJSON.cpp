#include "LumenorCore/LumenorJSON.h"

#include "LumenorCore/Utf8.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <limits>
#include <optional>
#include <span>
#include <tuple>
#include <type_traits>
#include <vector>

namespace LumenorJSON {
namespace {

using Json = nlohmann::json;
using Keys = std::span<const std::string_view>;

// ---- Writing ----------------------------------------------------------------------------------

bool wellFormed(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const Utf8::Decoded decoded = Utf8::decode(text.substr(at));
        if (!decoded.valid)
            return false;
        at += decoded.length;
    }
    return true;
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

// Non-ASCII text is written as it is, and each ill-formed sequence as U+FFFD: text from other
// programs must never keep an answer from being sent.
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
        const Utf8::Decoded decoded = Utf8::decode(text.substr(at));
        if (decoded.valid)
            out.append(text.substr(at, decoded.length));
        else
            Utf8::append(out, Utf8::replacementCharacter);
        at += decoded.length;
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
/// `[a,b,…]`, each element written by `appendOne`.
template <typename List, typename AppendOne>
void appendArray(std::string& out, const List& values, AppendOne appendOne) {
    out += '[';
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            out += ',';
        appendOne(out, values[i]);
    }
    out += ']';
}

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
        appendArray(out, values,
                    [](std::string& to, const std::string& value) { appendString(to, value); });
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

// ---- The records' members, once -------------------------------------------------------------

// One member of a record on the wire. How it is written and read follows from its type: bool,
// whole number, string, Instant, a list of strings or of records; an optional member is left
// out when absent and read as none when missing or null.
template <typename Record, typename Member> struct Field {
    using Type = Member;
    std::string_view key;
    Member Record::*member;
};

template <typename Record, typename Member>
constexpr Field<Record, Member> field(std::string_view key, Member Record::*member) {
    return {key, member};
}

// Each record's members in byte order of their keys, which is the order they are written in.
template <typename Record> constexpr auto fields = nullptr;

template <>
constexpr auto fields<LumenorHold> =
    std::tuple{field("id", &LumenorHold::id), field("label", &LumenorHold::label),
               field("pid", &LumenorHold::pid), field("until", &LumenorHold::until)};

template <>
constexpr auto fields<LumenorInhibitor> =
    std::tuple{field("mode", &LumenorInhibitor::mode), field("pid", &LumenorInhibitor::pid),
               field("uid", &LumenorInhibitor::uid),   field("user", &LumenorInhibitor::user),
               field("what", &LumenorInhibitor::what), field("who", &LumenorInhibitor::who),
               field("why", &LumenorInhibitor::why)};

template <>
constexpr auto fields<LumenorStatus> = std::tuple{
    field("awake", &LumenorStatus::awake),
    field("batteryPercent", &LumenorStatus::batteryPercent),
    field("holdUntil", &LumenorStatus::holdUntil),
    field("holds", &LumenorStatus::holds),
    field("inhibitorsHeld", &LumenorStatus::inhibitorsHeld),
    field("keepDisplayOn", &LumenorStatus::keepDisplayOn),
    field("lidClosedMode", &LumenorStatus::lidClosedMode),
    field("lidClosedModeActive", &LumenorStatus::lidClosedModeActive),
    field("lidClosedModeAvailable", &LumenorStatus::lidClosedModeAvailable),
    field("lidHandledBy", &LumenorStatus::lidHandledBy),
    field("onBattery", &LumenorStatus::onBattery),
    field("otherInhibitors", &LumenorStatus::otherInhibitors),
    field("pendingSleepAt", &LumenorStatus::pendingSleepAt),
    field("pendingSleepWaitingForPid", &LumenorStatus::pendingSleepWaitingForPid),
    field("problem", &LumenorStatus::problem),
    field("remoteWakeCycleArmed", &LumenorStatus::remoteWakeCycleArmed),
    field("remoteWakeEnabled", &LumenorStatus::remoteWakeEnabled),
    field("remoteWakeIntervalMinutes", &LumenorStatus::remoteWakeIntervalMinutes),
    field("sessionDescription", &LumenorStatus::sessionDescription),
    field("sessionEndsAt", &LumenorStatus::sessionEndsAt),
    field("wakeHelperReady", &LumenorStatus::wakeHelperReady),
};

template <typename Record>
constexpr auto keys = std::apply(
    [](const auto&... each) { return std::array<std::string_view, sizeof...(each)>{each.key...}; },
    fields<Record>);

static_assert(std::ranges::is_sorted(keys<LumenorHold>) &&
                  std::ranges::is_sorted(keys<LumenorInhibitor>) &&
                  std::ranges::is_sorted(keys<LumenorStatus>),
              "members are written in byte order of their keys");

template <typename T> struct Optional : std::false_type {};
template <typename T> struct Optional<std::optional<T>> : std::true_type {};

template <typename T> struct ListItem {};
template <typename T> struct ListItem<std::vector<T>> { using Type = T; };
template <typename T> struct ListItem<std::optional<T>> : ListItem<T> {};
template <typename T>
concept List = requires {
    typename ListItem<T>::Type;
};

template <typename T>
constexpr bool isRecord = !std::is_same_v<decltype(fields<T>), const std::nullptr_t>;

// ---- Writing records ----------------------------------------------------------------------------

template <typename Record> void appendRecord(std::string& out, const Record& record);

template <typename T>
void appendMember(ObjectWriter& object, std::string& out, std::string_view key, const T& value) {
    if constexpr (Optional<T>::value) {
        if (value)
            appendMember(object, out, key, *value);
    } else if constexpr (std::is_same_v<T, bool>) {
        object.boolean(key, value);
    } else if constexpr (std::is_integral_v<T>) {
        object.integer(key, value);
    } else if constexpr (std::is_same_v<T, std::string>) {
        object.string(key, value);
    } else if constexpr (std::is_same_v<T, Instant>) {
        object.instant(key, value);
    } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
        object.strings(key, value);
    } else {
        object.name(key);
        appendArray(out, value, [](std::string& to, const auto& item) { appendRecord(to, item); });
    }
}

template <typename Record> void appendRecord(std::string& out, const Record& record) {
    ObjectWriter object(out);
    std::apply(
        [&](const auto&... each) {
            (appendMember(object, out, each.key, record.*each.member), ...);
        },
        fields<Record>);
    object.close();
}

// ---- Reading ----------------------------------------------------------------------------------

constexpr std::array<std::string_view, 2> requestKeys{"command", "options"};
constexpr std::array<std::string_view, 3> responseKeys{"message", "ok", "status"};

// An array of objects among a record's members, and the keys its elements read.
struct ListShape {
    std::string_view key;
    Keys elementKeys;
};

// The known lists among a record's members: a list of names keeps its strings; a list of records
// keeps its elements' members.
template <typename Record>
constexpr auto lists = std::apply(
    [](const auto&... each) {
        constexpr std::size_t count =
            (std::size_t{0} + ... +
             std::size_t{List<typename std::remove_cvref_t<decltype(each)>::Type>});
        std::array<ListShape, count> found{};
        std::size_t at = 0;
        const auto add = [&]<typename F>(const F& one) {
            if constexpr (List<typename F::Type>) {
                using Item = typename ListItem<typename F::Type>::Type;
                if constexpr (isRecord<Item>)
                    found[at++] = {one.key, keys<Item>};
                else
                    found[at++] = {one.key, {}};
            }
        };
        (add(each), ...);
        return found;
    },
    fields<Record>);

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
    std::optional<std::string> duplicate; // a key given twice in one object

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
        // Readers disagree on which of two equal keys counts; the app must not pick one.
        if (keep && open.back().node->is_object() && open.back().node->contains(key)) {
            duplicate = key;
            return false;
        }
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
    if (!Json::sax_parse(text.begin(), text.end(), &builder)) {
        if (builder.duplicate)
            throw DuplicateKey("duplicate key “" + *builder.duplicate + "”");
        throw DecodingError("malformed JSON: " + describeParseError(builder.error));
    }
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

class Reader;
template <typename Record> Record readRecord(const Reader& reader);

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

    // The member `key` as a T; an optional T is none when the member is missing or null.
    template <typename T> T read(std::string_view key) const {
        if constexpr (Optional<T>::value) {
            const Json* value = optional(key);
            return value ? T(as<typename T::value_type>(key, *value)) : std::nullopt;
        } else {
            return as<T>(key, require(key));
        }
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

    template <typename T> T as(std::string_view key, const Json& value) const {
        if constexpr (std::is_same_v<T, bool>) {
            if (!value.is_boolean())
                fail(key, "must be true or false");
            return value.get<bool>();
        } else if constexpr (std::is_integral_v<T>) {
            return asInteger<T>(key, value);
        } else if constexpr (std::is_same_v<T, std::string>) {
            if (!value.is_string())
                fail(key, "must be a string");
            return value.get<std::string>();
        } else if constexpr (std::is_same_v<T, Instant>) {
            const auto instant =
                value.is_string() ? readInstant(value.get_ref<const std::string&>()) : std::nullopt;
            if (!instant)
                fail(key, "must be a date-time such as 2026-12-05T18:30:00Z, in whole seconds");
            return *instant;
        } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
            return asStrings(key, value);
        } else {
            return asList<typename T::value_type>(key, value);
        }
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

    std::vector<std::string> asStrings(std::string_view key, const Json& value) const {
        if (!value.is_array())
            fail(key, "must be a list of strings");
        std::vector<std::string> strings;
        for (const Json& item : value) {
            if (!item.is_string())
                fail(key, "must be a list of strings");
            strings.push_back(item.get<std::string>());
        }
        return strings;
    }

    // Each element read with a reader of its own, whose errors name the element.
    template <typename Item>
    std::vector<Item> asList(std::string_view key, const Json& value) const {
        if (!value.is_array())
            fail(key, "must be an array");
        std::vector<Item> items;
        for (std::size_t i = 0; i < value.size(); ++i) {
            const Json& element = value[i];
            const std::string elementName = name(key) + "[" + std::to_string(i) + "]";
            if (!element.is_object())
                throw DecodingError("\"" + elementName + "\" must be an object");
            items.push_back(readRecord<Item>(Reader(element, elementName + ".")));
        }
        return items;
    }
};

template <typename Record> Record readRecord(const Reader& reader) {
    Record record{};
    std::apply(
        [&](const auto&... each) {
            ((record.*each.member =
                  reader.read<typename std::remove_cvref_t<decltype(each)>::Type>(each.key)),
             ...);
        },
        fields<Record>);
    return record;
}

} // namespace

std::string line(const LumenorRequest& request) {
    // What a person typed goes as it is or not at all: a replaced byte could name another file.
    const bool valid =
        wellFormed(request.command) &&
        std::all_of(request.options.begin(), request.options.end(), [](const auto& option) {
            return wellFormed(option.first) && wellFormed(option.second);
        });
    if (!valid)
        throw EncodingError("cannot encode a string that is not valid UTF-8");
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
        appendRecord(out, *response.status);
    }
    object.close();
    return out += '\n';
}

std::string line(const LumenorStatus& status) {
    std::string out;
    out.reserve(512);
    appendRecord(out, status);
    return out += '\n';
}

template <> LumenorRequest decode<LumenorRequest>(std::string_view json) {
    const Json root = parse(json, {requestKeys, std::nullopt});
    const Reader reader(root, "");
    LumenorRequest request{reader.read<std::string>("command"), {}};
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
    const Json root = parse(json, {responseKeys, keys<LumenorStatus>, 2, lists<LumenorStatus>});
    const Reader reader(root, "");
    LumenorResponse response{reader.read<bool>("ok"), reader.read<std::string>("message")};
    if (const Json* status = reader.optional("status")) {
        if (!status->is_object())
            reader.fail("status", "must be an object");
        response.status = readRecord<LumenorStatus>(Reader(*status, "status."));
    }
    return response;
}

template <> LumenorStatus decode<LumenorStatus>(std::string_view json) {
    const Json root = parse(json, {keys<LumenorStatus>, Keys{}, 1, lists<LumenorStatus>});
    return readRecord<LumenorStatus>(Reader(root, ""));
}

} // namespace LumenorJSON
