#pragma once

#include "LumenorCore/LumenorRequest.h"
#include "LumenorCore/LumenorResponse.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

/// The control socket's event loop, internal to LumenorCore. One thread accepts and reads every
/// connection (non-blocking, each with its own deadline); only complete, decoded requests are
/// handed on, to a dispatcher or to a handler on a small pool of workers, so a silent client
/// costs a descriptor and a few bytes but never a thread, and a slow handler never stalls the
/// reading. Answers are sent by the thread that has them; a slow reader returns to the loop.
class ServerLoop {
public:
    using Handler = std::function<LumenorResponse(const LumenorRequest&)>;
    /// Sends the answer; to be called once, on any thread.
    using Reply = std::function<void(LumenorResponse)>;
    /// Takes a complete request on the loop thread, so it must not block, and answers it
    /// through the reply now or later.
    using Dispatcher = std::function<void(LumenorRequest, Reply)>;
    /// Receives one line for the log; called on the loop thread, so it must not block.
    using Observer = std::function<void(const std::string&)>;

    /// A request line must be complete this long after the connection is accepted, and a slow
    /// reader must have taken its answer this long after it was ready.
    static constexpr std::chrono::seconds lineTimeout{10};
    /// Most bytes of one request line, line feed excluded: requests are a few hundred bytes.
    static constexpr std::size_t maximumRequestLength = 65'536;
    /// Most bytes of unfinished request lines held for all clients together; a client whose
    /// bytes would go beyond is answered busyMessage and closed.
    static constexpr std::size_t bufferBudget = 4 * 1'048'576;
    static constexpr const char* busyMessage = "Too many unfinished requests at once; try again.";
    static constexpr const char* tooLongMessage = "Request too long: at most 64 KiB.";
    /// Bytes the peer sent after its line that are read and dropped before closing.
    static constexpr std::size_t drainBytes = 65'536;
    /// Handler calls at once, each on its own worker thread.
    static constexpr int workers = 4;

    /// Serves the listening socket `listenFD` (not owned) until `stop`, handing requests to
    /// `dispatcher`. Throws std::system_error when its thread or descriptors cannot be made.
    static std::shared_ptr<ServerLoop> start(int listenFD, Dispatcher dispatcher,
                                             Observer observer);
    /// The same, with `handler` called on the workers.
    static std::shared_ptr<ServerLoop> start(int listenFD, Handler handler, Observer observer);

    /// Ends the loop thread and closes the connections it holds. Never waits for a handler:
    /// requests already handed on are still answered, and their connections then close.
    void stop();

    ~ServerLoop();

    struct Shared;
    struct Connection;

private:
    explicit ServerLoop(int listenFD, std::shared_ptr<Shared> shared);
    static std::shared_ptr<ServerLoop> launch(int listenFD, std::shared_ptr<Shared> shared,
                                              Dispatcher dispatcher, Observer observer);
    class Reactor;

    std::unique_ptr<Reactor> reactor_;
};

/// Printable ASCII as it is, everything else as \\xNN (backslash doubled): safe in a log line.
std::string escapedExcerpt(std::string_view bytes, std::size_t limit);
