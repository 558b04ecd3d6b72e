#include "LumenorCore/UnixSocketError.h"

#include <system_error>

UnixSocketError::UnixSocketError(Kind kind, std::string call, std::int32_t errorNumber,
                                 const std::string& description)
    : std::runtime_error(description), kind_(kind), call_(std::move(call)),
      errorNumber_(errorNumber) {}

UnixSocketError UnixSocketError::system(std::string call, std::int32_t errorNumber) {
    std::string description = call + " failed: " + std::system_category().message(errorNumber);
    return UnixSocketError(Kind::system, std::move(call), errorNumber, description);
}

UnixSocketError UnixSocketError::pathTooLong() {
    return UnixSocketError(Kind::pathTooLong, {}, 0, "socket path too long");
}

UnixSocketError UnixSocketError::noResponse() {
    return UnixSocketError(Kind::noResponse, {}, 0, "no response from Lumenor");
}

UnixSocketError UnixSocketError::foreignServer(std::uint32_t uid) {
    return UnixSocketError(Kind::foreignServer, {}, 0,
                           "the socket is served by user id " + std::to_string(uid) +
                               ", not by this user");
}
