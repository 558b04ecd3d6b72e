#pragma once

#include "LumenorCore/LumenorRequest.h"
#include "LumenorCore/LumenorResponse.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <sys/types.h>

class ServerLoop;
namespace UnixSocket {
class Descriptor;
}

/// Serves the control socket: one request line and one response line per connection, only for
/// peers of this user. All connections are read by one event loop; complete requests go to a
/// dispatcher, or to a handler on a few worker threads. Must be owned by a std::shared_ptr before
/// `start`.
class LumenorServer : public std::enable_shared_from_this<LumenorServer> {
public:
    /// Turns a request into its response. Called on a worker thread, possibly on several at
    /// once; it may block without holding up the reading of other connections. An exception
    /// closes the connection unanswered.
    using Handler = std::function<LumenorResponse(const LumenorRequest&)>;
    /// Sends the answer; to be called once, on any thread. Dropped uncalled, it closes the
    /// connection unanswered.
    using Reply = std::function<void(LumenorResponse)>;
    /// Takes a request on the server's loop thread, so it must not block, and answers it through
    /// the reply, now or later; what waits for another thread costs no server thread meanwhile.
    using Dispatcher = std::function<void(LumenorRequest, Reply)>;
    /// Receives a line for the log about a refused peer or a malformed request, at most one per
    /// second of each kind. Called on the server's loop thread: it must return quickly.
    using Observer = std::function<void(const std::string&)>;

    /// Opens nothing yet.
    LumenorServer(std::string path, Handler handler, Observer observer = {});
    LumenorServer(std::string path, Dispatcher dispatcher, Observer observer = {});
    /// Stops listening (and removes the socket file) if still listening.
    ~LumenorServer();
    LumenorServer(const LumenorServer&) = delete;
    LumenorServer& operator=(const LumenorServer&) = delete;

    /// Serves the socket the service manager handed over for this path, if any (it keeps the
    /// file); else creates missing directories (0700), replaces a stale socket file, binds the
    /// socket (0600) and listens. Throws UnixSocketError, or std::filesystem::filesystem_error when
    /// the directory cannot be made; a failed start leaves nothing listening.
    void start();
    /// Stops listening and removes the socket file unless it is not a socket or is another
    /// server's. Never waits for a handler: requests already handed on are still answered.
    /// Safe to call again, or without `start`.
    void stop();

    const std::string& path() const { return path_; }
    /// The listening descriptor; -1 while not listening.
    std::int32_t listenFD() const;
    /// The socket file at the path is still the one this server bound: false once it was
    /// removed or replaced, when no client can reach this server any more.
    bool stillBound() const;

private:
    struct FileIdentity {
        dev_t device;
        ino_t inode;
    };

    void removeSocketFile();
    UnixSocket::Descriptor bindSocket();
    void recordBoundFile();

    const std::string path_;
    std::int32_t listenFD_ = -1;
    const Handler handler_;
    const Dispatcher dispatcher_;
    const Observer observer_;
    mutable std::mutex mutex_;
    std::shared_ptr<ServerLoop> loop_;
    std::optional<FileIdentity> boundFile_;
    bool handedOver_ = false;
};
