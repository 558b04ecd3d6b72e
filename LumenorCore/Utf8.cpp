#include "LumenorCore/Utf8.h"

namespace Utf8 {
namespace {

struct Lead {
    std::size_t length;      // bytes in the whole sequence; 0 for a byte that cannot lead
    unsigned char low, high; // allowed range of the second byte (excludes overlongs, surrogates)
    char32_t bits;           // payload of the lead byte
};

Lead leadOf(unsigned char byte) {
    if (byte < 0x80)
        return {1, 0, 0, byte};
    if (byte >= 0xC2 && byte <= 0xDF)
        return {2, 0x80, 0xBF, char32_t(byte & 0x1F)};
    if (byte == 0xE0)
        return {3, 0xA0, 0xBF, 0};
    if (byte == 0xED)
        return {3, 0x80, 0x9F, 0x0D};
    if (byte >= 0xE1 && byte <= 0xEF)
        return {3, 0x80, 0xBF, char32_t(byte & 0x0F)};
    if (byte == 0xF0)
        return {4, 0x90, 0xBF, 0};
    if (byte >= 0xF1 && byte <= 0xF3)
        return {4, 0x80, 0xBF, char32_t(byte & 0x07)};
    if (byte == 0xF4)
        return {4, 0x80, 0x8F, 4};
    return {0, 0, 0, 0};
}

} // namespace

Decoded decode(std::string_view bytes) {
    if (bytes.empty())
        return {replacementCharacter, 0, false};
    const Lead lead = leadOf(static_cast<unsigned char>(bytes[0]));
    if (lead.length == 0)
        return {replacementCharacter, 1, false};
    char32_t codePoint = lead.bits;
    for (std::size_t i = 1; i < lead.length; ++i) {
        if (i >= bytes.size())
            return {replacementCharacter, i, false};
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const bool inRange =
            i == 1 ? (byte >= lead.low && byte <= lead.high) : (byte >= 0x80 && byte <= 0xBF);
        if (!inRange)
            return {replacementCharacter, i, false};
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    return {codePoint, lead.length, true};
}

void append(std::string& out, char32_t codePoint) {
    if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)
        codePoint = replacementCharacter;
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

std::string sanitized(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const Decoded decoded = decode(bytes);
        if (decoded.valid)
            out.append(bytes.substr(0, decoded.length));
        else
            append(out, replacementCharacter);
        bytes.remove_prefix(decoded.length);
    }
    return out;
}

std::string visible(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const Decoded decoded = decode(bytes);
        const char32_t c = decoded.codePoint;
        const bool control = (c < 0x20 && c != '\n' && c != '\t') || (c >= 0x7f && c < 0xa0);
        if (control)
            out += std::string(c < 0x80 ? "\\x" : "\\u00") + digits[c >> 4] + digits[c & 15];
        else
            append(out, c);
        bytes.remove_prefix(decoded.length);
    }
    return out;
}

std::size_t length(std::string_view bytes) {
    std::size_t count = 0;
    while (!bytes.empty()) {
        bytes.remove_prefix(decode(bytes).length);
        ++count;
    }
    return count;
}

} // namespace Utf8
