#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// Reading UTF-8 that comes from outside (typed text, other processes' memory), where nothing
/// guarantees it is well formed.
namespace Utf8 {

inline constexpr char32_t replacementCharacter = U'\uFFFD';

/// One code point read from the front of some bytes.
struct Decoded {
    /// The code point, or U+FFFD when the bytes do not start a well-formed sequence.
    char32_t codePoint = replacementCharacter;
    /// Bytes consumed: the whole sequence, or for an ill-formed one its longest valid-looking
    /// prefix (at least one byte), so that each such prefix becomes exactly one U+FFFD.
    std::size_t length = 0;
    bool valid = false;
};

/// Reads the code point at the front of `bytes`; an empty input consumes nothing.
Decoded decode(std::string_view bytes);

/// Appends the UTF-8 form of `codePoint` (surrogates and values past U+10FFFF become U+FFFD).
void append(std::string& out, char32_t codePoint);

/// `bytes` with every ill-formed sequence replaced by U+FFFD; well-formed text comes back as is.
std::string sanitized(std::string_view bytes);

/// `bytes` made safe to show on a terminal or in a log line: sanitized, and every control
/// character but line feed and tab (C0, DEL and C1, which can move the cursor, clear the screen
/// or set a window title) written as `\xNN`, or `\u00NN` for C1.
std::string visible(std::string_view bytes);

/// The number of code points in `bytes`; each ill-formed sequence counts as one.
std::size_t length(std::string_view bytes);

} // namespace Utf8
