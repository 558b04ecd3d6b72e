#pragma once

#include "LumenorCore/LumenorRequest.h"
#include "LumenorCore/LumenorResponse.h"

#include <string>

/// The caller's side of the control socket.
namespace LumenorClient {

/// Sends one request line to the server at `path` and reads its one response line.
/// `timeoutSeconds` bounds connecting, sending and the whole wait for the answer; whole seconds
/// count, and anything under one second (or not a number) counts as one.
/// Throws UnixSocketError ("connect failed: …", "write failed: …", "no response from Lumenor",
/// "socket path too long"), LumenorJSON::EncodingError, or LumenorJSON::DecodingError.
LumenorResponse send(const LumenorRequest& request, const std::string& path, double timeoutSeconds);

} // namespace LumenorClient
