#pragma once

#include <string>

/// Texts generated from the command table at build time: shell completions and the manual.
namespace CommandLine {

/// The completion script for "bash", "zsh" or "fish"; empty for another shell.
std::string completionScript(const std::string& shell);

/// The manual page lumenor(1) in roff (man macros), naming `version` and its release `date`
/// (YYYY-MM-DD).
std::string manPage(const std::string& version, const std::string& date);

/// The manual page lumenor-app(1), like manPage.
std::string appManPage(const std::string& version, const std::string& date);

} // namespace CommandLine
