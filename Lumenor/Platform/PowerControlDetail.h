#pragma once

#include <optional>
#include <string>

/// The seams behind PowerControl's administrator calls, for the app's own tests.
namespace PowerControl::detail {

/// The tools setup needs, where it looks for them.
struct SetupTools {
    std::string pkexec = "/usr/bin/pkexec";
    std::string sudo = "/usr/bin/sudo";
    std::string visudo = "/usr/sbin/visudo";
};

/// The current user's short login name from the account database; empty when it has none.
std::string currentUserName();

/// What keeps setup from starting, before any prompt: a user name sudoers cannot hold, a
/// missing tool, no polkit authority on the system bus, or no desktop session whose polkit
/// agent could ask. None when it can start.
std::optional<std::string> setupBlockerFor(const SetupTools& tools, const std::string& user,
                                           bool desktopSession, bool polkitRuns = true);

/// runAsAdmin through the given pkexec; `command` names the lumenor command whose
/// --print-script output is the alternative offered when no approval can be asked for.
void runAsAdminWith(const std::string& pkexec, const std::string& script,
                    const std::string& command);

/// installHelper for the given user name instead of the current user's.
void installHelperFor(const std::string& user, const std::string& pkexec);

} // namespace PowerControl::detail
