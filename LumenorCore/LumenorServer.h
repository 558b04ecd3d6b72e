#pragma once

#include "LumenorCore/LumenorRequest.h"
#include "LumenorCore/LumenorResponse.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <sys/types.h>

/// Serves the control socket: one request line and one response line per connection, only for
/// peers of this user. Must be owned by a std::shared_ptr before `start`; connection threads
/// hold it weakly, and a connection whose server is gone is closed unanswered.
class LumenorServer : public std::enable_shared_from_this<LumenorServer> {
public:
    /// Turns a request into its response. Called on the connection's own thread, possibly on
    /// several threads at once; an exception closes the connection unanswered.
    using Handler = std::function<LumenorResponse(const LumenorRequest&)>;

    /// Opens nothing yet.
    LumenorServer(std::string path, Handler handler);
    /// Stops listening (and removes the socket file) if still listening.
    ~LumenorServer();
    LumenorServer(const LumenorServer&) = delete;
    LumenorServer& operator=(const LumenorServer&) = delete;

    /// Creates missing directories (0700), replaces a stale socket file, binds the socket (0600)
    /// and listens. Throws UnixSocketError, or std::filesystem::filesystem_error when the
    /// directory cannot be made; a failed start leaves nothing listening.
    void start();
    /// Stops listening, waking a blocked accept, and removes the socket file unless it is not a
    /// socket or is another server's. Safe to call again, or without `start`.
    void stop();

    const std::string& path() const { return path_; }
    /// The listening descriptor; -1 while not listening.
    std::int32_t listenFD() const;

private:
    struct FileIdentity {
        dev_t device;
        ino_t inode;
    };

    void acceptLoop(int fd, std::weak_ptr<LumenorServer> self);
    static void serve(std::weak_ptr<LumenorServer> self, int fd);
    void removeSocketFile();

    const std::string path_;
    std::int32_t listenFD_ = -1;
    const Handler handler_;
    mutable std::mutex mutex_;
    std::thread acceptThread_;
    std::atomic<bool> stopping_ = false;
    std::optional<FileIdentity> boundFile_;
};
