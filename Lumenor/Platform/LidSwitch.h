#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

/// Whether this computer has a lid: lid-closed mode is offered, shown and spoken of only where
/// one is.
namespace LidSwitch {

/// An ACPI lid under `acpiButtons` (/proc/acpi/button/lid/LID0), or an input device under
/// `inputClass` whose switch capabilities include SW_LID (laptops without ACPI lid buttons).
bool detected(const std::filesystem::path& acpiButtons = "/proc/acpi/button",
              const std::filesystem::path& inputClass = "/sys/class/input");

/// What LUMENOR_ASSUME_LID (`value`) says: 1 a lid, 0 none; none for anything else.
std::optional<bool> assumed(std::string_view value);

/// LUMENOR_ASSUME_LID when it says, else detected().
bool present();

} // namespace LidSwitch
