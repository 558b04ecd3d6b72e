#pragma once

#include <string>

/// What the program's texts call the machine. Decided here once, so that every text stays
/// byte-exact per platform: the macOS texts say "Mac", the Linux texts "computer". Functions
/// rather than constants, so that texts built during static initialisation can use them.
namespace LumenorWords {

#ifdef __APPLE__
/// The machine after an article or a possessive: "Keeping the Mac awake".
inline std::string machine() {
    return "Mac";
}
/// The machine where a text names it bare: "Screen off, Mac stays awake".
inline std::string namedMachine() {
    return "Mac";
}
/// namedMachine at the start of a sentence: "Mac is awake".
inline std::string NamedMachine() {
    return "Mac";
}
#else
inline std::string machine() {
    return "computer";
}
inline std::string namedMachine() {
    return "the computer";
}
inline std::string NamedMachine() {
    return "The computer";
}
#endif

} // namespace LumenorWords
