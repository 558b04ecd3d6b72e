#include "Tools/lumenor/Output.h"

#include "LumenorCore/LumenorJSON.h"
#include "LumenorCore/Utf8.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace Output {
namespace {

bool isEmoji(char32_t c) {
    return (c >= 0x2190 && c <= 0x2BFF) || (c >= 0x1F000 && c <= 0x1FAFF);
}

bool joinsEmoji(char32_t c) {
    return c == 0xFE0F || c == 0x200D || (c >= 0x1F3FB && c <= 0x1F3FF);
}

/// The bytes of an emoji cluster at the front of `text`; 0 when it starts with none.
std::size_t emojiLength(std::string_view text) {
    std::size_t length = 0;
    bool sawEmoji = false;
    while (length < text.size()) {
        const Utf8::Decoded next = Utf8::decode(text.substr(length));
        if (!next.valid || !(isEmoji(next.codePoint) || (sawEmoji && joinsEmoji(next.codePoint)))) {
            break;
        }
        sawEmoji = true;
        length += next.length;
    }
    return sawEmoji ? length : 0;
}

} // namespace

bool decorates(int fd, CommandLine::ColorChoice choice) {
    using CommandLine::ColorChoice;
    return choice == ColorChoice::always || (choice == ColorChoice::automatic && ::isatty(fd));
}

bool colors(int fd, CommandLine::ColorChoice choice) {
    const char* noColor = std::getenv("NO_COLOR");
    const bool refused = noColor != nullptr && *noColor != '\0';
    return choice == CommandLine::ColorChoice::always || (decorates(fd, choice) && !refused);
}

std::string withoutEmoji(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const bool wordStart = out.empty() || out.back() == '\n' || out.back() == ' ';
        if (wordStart) {
            const std::size_t length = emojiLength(text.substr(at));
            if (length > 0 && at + length < text.size() && text[at + length] == ' ') {
                at += length + 1;
                continue;
            }
        }
        out += text[at++];
    }
    return out;
}

std::string jsonOutcome(bool ok, const std::string& message, int exit) {
    // Typed words quoted in a message may be any bytes; JSON carries UTF-8 only.
    const LumenorResponse outcome{.ok = ok, .message = Utf8::sanitized(message)};
    return withExit(LumenorJSON::line(outcome), exit);
}

std::string withExit(const std::string& jsonLine, int exit) {
    return "{\"exit\":" + std::to_string(exit) + "," + jsonLine.substr(1);
}

void writeLine(int fd, std::string_view text) {
    if (text.empty()) {
        return;
    }
    std::string bytes(text);
    if (bytes.back() != '\n') {
        bytes += '\n';
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        written += static_cast<std::size_t>(n);
    }
}

} // namespace Output
