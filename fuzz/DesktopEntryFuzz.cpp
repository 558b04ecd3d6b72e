// Desktop entries as any package may install them. The first line picks the locale.

#include "FuzzCheck.h"

#include "Lumenor/Platform/DesktopEntry.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = std::min(bytes.find('\n'), bytes.size());
    const std::string locale = bytes.substr(0, std::min<std::size_t>(lineEnd, 40));
    const std::string text = bytes.substr(std::min(lineEnd + 1, bytes.size()));
    if (const auto entry = DesktopEntries::parse(text, "fuzz.desktop", locale))
        FUZZ_CHECK(entry->id == "fuzz.desktop");
    DesktopEntries::execProgram(text);
    return 0;
}
