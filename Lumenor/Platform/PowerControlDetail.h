#pragma once

#include <string>

/// The seams behind PowerControl's administrator calls, for the app's own tests.
namespace PowerControl::detail {

inline const std::string osascriptPath = "/usr/bin/osascript";

/// The current user's short login name from the account database; empty when it has none.
std::string currentUserName();

/// runAsAdmin through the given dialog tool instead of osascriptPath.
void runAsAdminWith(const std::string& dialogTool, const std::string& script,
                    const std::string& prompt);

/// installHelper for the given user name instead of the current user's.
void installHelperFor(const std::string& user, int minimumBattery);

} // namespace PowerControl::detail
