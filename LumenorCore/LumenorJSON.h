#pragma once

#include "LumenorCore/LumenorRequest.h"
#include "LumenorCore/LumenorResponse.h"
#include "LumenorCore/LumenorStatus.h"

#include <stdexcept>
#include <string>
#include <string_view>

/// The one wire form of the protocol records: a compact JSON object with keys in byte order,
/// absent optionals left out, instants as "2026-12-05T18:30:00Z" (whole seconds, UTC).
/// Stateless, so every function may be called from any thread at any time.
namespace LumenorJSON {

/// A request could not be written (a string that is not valid UTF-8).
struct EncodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// Bytes that are not the JSON form of the record asked for; `what()` says why.
struct DecodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// The same key twice in one object; `what()` names it.
struct DuplicateKey : DecodingError {
    using DecodingError::DecodingError;
};

/// The encoded record followed by one line feed. A request with ill-formed UTF-8 throws
/// EncodingError; in the others each ill-formed sequence is written as U+FFFD.
std::string line(const LumenorRequest& request);
std::string line(const LumenorResponse& response);
std::string line(const LumenorStatus& status);

/// Reads one record from `json` (without its line feed); throws DecodingError. Unknown keys are
/// ignored, null optionals read as none, instants may carry "Z" or a "+HH:MM" offset.
template <typename Record> Record decode(std::string_view json);

template <> LumenorRequest decode<LumenorRequest>(std::string_view json);
template <> LumenorResponse decode<LumenorResponse>(std::string_view json);
template <> LumenorStatus decode<LumenorStatus>(std::string_view json);

} // namespace LumenorJSON
