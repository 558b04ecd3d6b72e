// Request, response and status lines as the socket delivers them: whatever decodes must encode
// again and decode to the same record.

#include "FuzzCheck.h"

#include "LumenorCore/LumenorJSON.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

template <typename Record> void roundTrip(std::string_view bytes) {
    Record record;
    try {
        record = LumenorJSON::decode<Record>(bytes);
    } catch (const LumenorJSON::DecodingError&) {
        return;
    }
    std::string line;
    try {
        line = LumenorJSON::line(record);
    } catch (const LumenorJSON::EncodingError&) {
        return;
    }
    FUZZ_CHECK(!line.empty() && line.back() == '\n');
    line.pop_back();
    FUZZ_CHECK(line.find('\n') == std::string::npos);
    FUZZ_CHECK(LumenorJSON::decode<Record>(line) == record);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    roundTrip<LumenorRequest>(bytes);
    roundTrip<LumenorResponse>(bytes);
    roundTrip<LumenorStatus>(bytes);
    return 0;
}
