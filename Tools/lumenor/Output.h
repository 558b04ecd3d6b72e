#pragma once

#include "Tools/lumenor/CommandLine.h"

#include <string>
#include <string_view>

/// How `lumenor` writes: plain text into pipes and files, emoji and colour on a terminal, one
/// JSON object per outcome with `--json`. Uses write(2) only, so that it starts fast.
namespace Output {

/// Whether text for `fd` keeps its emoji: on a terminal, or when asked to always.
bool decorates(int fd, CommandLine::ColorChoice choice);

/// Whether text for `fd` may carry colour: as decorates(), but never under NO_COLOR unless asked
/// to always.
bool colors(int fd, CommandLine::ColorChoice choice);

/// `text` without the emoji that only decorate it: an emoji (with its variation selectors and
/// joiners) at the start of a line or after a space, together with the space after it.
std::string withoutEmoji(std::string_view text);

/// One JSON line for an outcome the app did not answer: {"exit":N,"message":…,"ok":…}.
std::string jsonOutcome(bool ok, const std::string& message, int exit);

/// An encoded reply with "exit" added as its first member.
std::string withExit(const std::string& jsonLine, int exit);

/// Writes all of `text` to `fd`, ending it in a line feed if it has none; nothing for "".
void writeLine(int fd, std::string_view text);

} // namespace Output
