#pragma once

#include <string>

/// A listening socket handed over by the service manager (systemd's LISTEN_FDS protocol), so
/// that a client's first connection can start the app and nothing is lost meanwhile.
namespace SocketActivation {

/// The listening Unix stream socket bound to `path` that the service manager passed this
/// process as descriptor 3 (LISTEN_PID is this process, LISTEN_FDS at least 1), made
/// close-on-exec and non-blocking; -1 when there is none. A child ignores the variables, since
/// LISTEN_PID names this process.
int adopt(const std::string& path);

} // namespace SocketActivation
