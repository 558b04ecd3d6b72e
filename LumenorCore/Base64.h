#pragma once

#include <string>
#include <string_view>

/// The base64 form in which generated shell text travels without any quoting.
namespace Base64 {

/// Standard alphabet with "=" padding and no line breaks; any bytes, including NUL.
std::string encode(std::string_view bytes);

} // namespace Base64
