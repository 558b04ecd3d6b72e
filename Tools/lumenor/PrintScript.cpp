#include "Tools/lumenor/PrintScript.h"

#include "LumenorCore/PrivilegedInstallLinux.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace PrintScript {

std::optional<Output> handle(const std::vector<std::string>& arguments, const std::string& user) {
    if (arguments.size() != 2 || arguments[1] != "--print-script") {
        return std::nullopt;
    }
    if (arguments[0] == "uninstall-helper") {
        return Output{0, PrivilegedInstallLinux::uninstallScript(), {}};
    }
    if (arguments[0] != "setup") {
        return std::nullopt;
    }
    if (!PrivilegedInstallLinux::isSafeUserName(user)) {
        return Output{1, {}, "Unsupported user name for sudoers.\n"};
    }
    return Output{0, PrivilegedInstallLinux::installScript(user), {}};
}

std::string callingUser() {
    // `sudo lumenor setup --print-script` still means the person who typed it.
    const char* sudoUser = std::getenv("SUDO_USER");
    if (::getuid() == 0 && sudoUser != nullptr && *sudoUser != 0) {
        return sudoUser;
    }
    const passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr && entry->pw_name != nullptr ? entry->pw_name : "";
}

} // namespace PrintScript
