// The command's arguments, NUL-separated. Whatever is accepted must be sendable: the request
// encodes.

#include "FuzzCheck.h"

#include "LumenorCore/LumenorJSON.h"
#include "Tools/lumenor/CommandLine.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments;
    std::string current;
    for (std::size_t index = 0; index < size; ++index) {
        if (data[index] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current += char(data[index]);
        }
    }
    if (!current.empty() || arguments.empty())
        arguments.push_back(current);
    const auto agent = [] {
        return std::optional(ProcessTree::AgentAncestor{.pid = 4242, .isOneShot = true});
    };
    const auto result = CommandLine::parse(arguments, agent);
    const auto* invocation = std::get_if<CommandLine::Invocation>(&result);
    if (invocation == nullptr || invocation->action != CommandLine::Invocation::Action::send)
        return 0;
    try {
        LumenorJSON::line(invocation->request);
    } catch (const LumenorJSON::EncodingError&) {
        FUZZ_CHECK(!"an accepted command line must encode");
    }
    return 0;
}
