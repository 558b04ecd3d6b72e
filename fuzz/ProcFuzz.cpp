// The process table's texts: /proc/<pid>/stat lines and argument areas.

#include "FuzzCheck.h"

#include "LumenorCore/ProcessTree.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ProcessTree::parentFromStat(text);

    const auto arguments = ProcessTree::splitArgumentArea(text);
    std::size_t expected = std::size_t(std::count(text.begin(), text.end(), '\0'));
    if (!text.empty() && text.back() != '\0')
        ++expected;
    FUZZ_CHECK(arguments.size() == expected);
    for (const auto& argument : arguments)
        FUZZ_CHECK(argument.find('\0') == std::string::npos);
    ProcessTree::classifyAgent(arguments);
    return 0;
}
