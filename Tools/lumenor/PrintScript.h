#pragma once

#include <optional>
#include <string>
#include <vector>

/// `lumenor setup --print-script` and `lumenor uninstall-helper --print-script`: the wake
/// helper's install or removal script for the calling user, printed for `| sudo sh` where no
/// administrator dialog can be shown. Needs no running app.
namespace PrintScript {

struct Output {
    int status = 0;
    std::string out;
    std::string err;
};

/// The output for `arguments` run by `user`; none when they ask for something else.
std::optional<Output> handle(const std::vector<std::string>& arguments, const std::string& user);

/// The user the script is for: the caller, or the one who ran sudo when the caller is root.
std::string callingUser();

} // namespace PrintScript
