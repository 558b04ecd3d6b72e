#include "LumenorCore/ServerLoop.h"

#include "LumenorCore/LumenorJSON.h"
#include "LumenorCore/UnixSocket.h"

#include <array>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>

#include <malloc.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long accepting pauses when descriptors or memory run out, so that the loop does not spin.
constexpr auto acceptPause = 50ms;
// Bytes read from one connection per wake-up, so that a fast sender cannot starve the others.
constexpr std::size_t readBudget = 65'536;
// At most one log line per kind in this time, so that a flood cannot flood the log.
constexpr auto reportInterval = 1s;
constexpr std::size_t excerptBytes = 80;

enum class Progress { done, wait, failed };
// Unfinished requests that once held this much are given back to the system when they go.
constexpr std::size_t trimAbove = 1'048'576;

enum ReportKind { refusedPeer, malformedRequest, overBudget, reportKinds };

[[noreturn]] void throwSystem(const char* call) {
    throw std::system_error(errno, std::system_category(), call);
}

} // namespace

struct ServerLoop::Connection {
    enum class Phase { reading, writing };

    explicit Connection(int fd) : fd(fd) {}
    ~Connection() { ::close(fd); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const int fd;
    Phase phase = Phase::reading;
    std::string input;
    std::size_t counted = 0; // of input, in the loop's budget
    std::string output;
    std::size_t written = 0;
    Clock::time_point deadline;
    Phase deadlineFor = Phase::reading;
};

namespace {

using ConnectionPtr = std::unique_ptr<ServerLoop::Connection>;
using Phase = ServerLoop::Connection::Phase;

bool wouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

// Reads what has arrived; the line's end once it is complete, none while more must come. An
// unfinished line may grow by `room` bytes at most; a finished one is handed on at once.
std::optional<UnixSocket::LineEnd> readSome(ServerLoop::Connection& connection, std::size_t room) {
    char buffer[16'384];
    for (std::size_t budget = readBudget; budget > 0;) {
        const ssize_t got = ::recv(connection.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
            budget -= std::min(budget, std::size_t(got));
            const auto* lineFeed = static_cast<const char*>(std::memchr(buffer, '\n', got));
            const std::size_t take = lineFeed ? std::size_t(lineFeed - buffer) : std::size_t(got);
            if (connection.input.size() + take > ServerLoop::maximumRequestLength)
                return UnixSocket::LineEnd::tooLong;
            if (!lineFeed && take > room)
                return UnixSocket::LineEnd::overBudget;
            connection.input.append(buffer, take);
            if (lineFeed)
                return UnixSocket::LineEnd::lineFeed;
            room -= take;
            continue;
        }
        if (got == 0)
            return UnixSocket::LineEnd::endOfStream;
        if (errno == EINTR)
            continue;
        return wouldBlock() ? std::nullopt : std::optional(UnixSocket::LineEnd::failed);
    }
    return std::nullopt;
}

Progress sendSome(ServerLoop::Connection& connection) {
    while (connection.written < connection.output.size()) {
        const ssize_t sent =
            ::send(connection.fd, connection.output.data() + connection.written,
                   connection.output.size() - connection.written, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            connection.written += std::size_t(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        return sent < 0 && wouldBlock() ? Progress::wait : Progress::failed;
    }
    return Progress::done;
}

// Drops what the peer sent after its line. A Unix socket closed with unread bytes would make the
// peer's next read fail with a reset, so they are read first; its writes are complete when
// they return, so once nothing is pending nothing more is on its way, and closing now is
// clean. A peer that keeps sending past the bound is misbehaving and is closed regardless.
void drainPending(ServerLoop::Connection& connection) {
    char buffer[4096];
    for (std::size_t drained = 0; drained <= ServerLoop::drainBytes;) {
        const ssize_t got = ::recv(connection.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0)
            drained += std::size_t(got);
        else if (got == 0 || errno != EINTR)
            return;
    }
}

// Sends the rest of the answer, then half-closes and drains; `wait` leaves the connection to
// the loop until it can take more.
Progress proceed(ServerLoop::Connection& connection) {
    connection.phase = Phase::writing;
    if (const Progress sent = sendSome(connection); sent != Progress::done)
        return sent;
    ::shutdown(connection.fd, SHUT_WR);
    drainPending(connection);
    return Progress::done;
}

std::string refusal(const ucred& peer) {
    return "Refused a control connection from user id " + std::to_string(peer.uid) + " (process " +
           std::to_string(peer.pid) + ")";
}

} // namespace

std::string escapedExcerpt(std::string_view bytes, std::size_t limit) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const char byte : bytes.substr(0, limit)) {
        const auto value = static_cast<unsigned char>(byte);
        if (value == '\\')
            text += "\\\\";
        else if (value >= 0x20 && value < 0x7f)
            text += byte;
        else
            text += {'\\', 'x', digits[value >> 4], digits[value & 15]};
    }
    if (bytes.size() > limit)
        text += "…";
    return text;
}

struct ServerLoop::Shared {
    ~Shared() {
        if (wakeFD >= 0)
            ::close(wakeFD);
    }

    void wakeLoop() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(wakeFD, &one, sizeof one);
    }

    Handler handler; // only where workers answer
    Dispatcher dispatcher;
    Observer observer;
    int wakeFD = -1;

    std::mutex mutex;
    std::condition_variable work;
    std::deque<std::pair<LumenorRequest, Reply>> jobs; // waiting for a worker
    std::deque<ConnectionPtr> returned; // answers sent elsewhere that wait for their reader
    bool stopped = false;

    /// Leaves a connection whose reader is slow to the loop; with no loop left, it closes now.
    void giveBack(ConnectionPtr connection) {
        std::lock_guard lock(mutex);
        if (!stopped) {
            returned.push_back(std::move(connection));
            wakeLoop();
        }
    }
};

namespace {

// The one answer a connection is owed, sent by whichever thread has it. Dropped unanswered, it
// closes the connection.
class Answer {
public:
    Answer(std::shared_ptr<ServerLoop::Shared> shared, ConnectionPtr connection)
        : state_(std::make_shared<State>(State{std::move(shared), std::move(connection)})) {}

    void operator()(const LumenorResponse& response) const {
        ConnectionPtr connection = std::move(state_->connection);
        if (!connection)
            return;
        try {
            connection->output = LumenorJSON::line(response);
        } catch (...) {
            return;
        }
        if (proceed(*connection) == Progress::wait)
            state_->shared->giveBack(std::move(connection));
    }

private:
    struct State {
        std::shared_ptr<ServerLoop::Shared> shared;
        ConnectionPtr connection;
    };
    std::shared_ptr<State> state_;
};

} // namespace

class ServerLoop::Reactor {
public:
    Reactor(int listenFD, std::shared_ptr<Shared> shared);
    ~Reactor() { ::close(epollFD_); }

    void run();
    const std::shared_ptr<Shared>& shared() const { return shared_; }

    std::thread thread;

private:
    void acceptAll();
    void serve(int fd);
    std::optional<UnixSocket::LineEnd> read(Connection& connection);
    void settle(Connection& connection, std::size_t keep);
    bool adoptReturned();
    void expire(Clock::time_point now);
    int timeoutMilliseconds() const;

    void watch(ConnectionPtr connection);
    ConnectionPtr unwatch(int fd);
    void complete(ConnectionPtr connection, UnixSocket::LineEnd end);
    void answer(ConnectionPtr connection, const LumenorResponse& response);
    void report(ReportKind kind, const std::string& text);

    const int listenFD_;
    const uid_t uid_ = ::getuid();
    const std::shared_ptr<Shared> shared_;
    int epollFD_ = -1;
    std::unordered_map<int, ConnectionPtr> connections_;
    std::size_t buffered_ = 0;  // bytes of unfinished request lines
    std::size_t highWater_ = 0; // most of them since memory was last given back
    std::set<std::pair<Clock::time_point, int>> deadlines_;
    std::optional<Clock::time_point> acceptResumesAt_;
    std::array<std::optional<Clock::time_point>, reportKinds> lastReport_;
};

ServerLoop::Reactor::Reactor(int listenFD, std::shared_ptr<Shared> shared)
    : listenFD_(listenFD), shared_(std::move(shared)) {
    epollFD_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epollFD_ < 0)
        throwSystem("epoll_create1");
    for (const int fd : {listenFD_, shared_->wakeFD}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (::epoll_ctl(epollFD_, EPOLL_CTL_ADD, fd, &event) != 0) {
            const int error = errno;
            ::close(epollFD_);
            throw std::system_error(error, std::system_category(), "epoll_ctl");
        }
    }
}

void ServerLoop::Reactor::run() {
    std::array<epoll_event, 64> events;
    for (;;) {
        const int ready =
            ::epoll_wait(epollFD_, events.data(), int(events.size()), timeoutMilliseconds());
        if (ready < 0 && errno != EINTR)
            return;
        for (int index = 0; index < ready; ++index) {
            const int fd = events[std::size_t(index)].data.fd;
            if (fd == listenFD_)
                acceptAll();
            else if (fd == shared_->wakeFD && !adoptReturned())
                return;
            else if (fd != shared_->wakeFD)
                serve(fd);
        }
        expire(Clock::now());
    }
}

void ServerLoop::Reactor::acceptAll() {
    // Bounded so that a crowd arriving at once still leaves room for the connections served.
    for (int accepted = 0; accepted < 256; ++accepted) {
        const int fd = ::accept4(listenFD_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            if (error == EINTR || error == ECONNABORTED || error == EPROTO)
                continue;
            if (error == EAGAIN || error == EWOULDBLOCK)
                return;
            epoll_event event{};
            if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
                ::epoll_ctl(epollFD_, EPOLL_CTL_MOD, listenFD_, &event);
                acceptResumesAt_ = Clock::now() + acceptPause;
            } else {
                ::epoll_ctl(epollFD_, EPOLL_CTL_DEL, listenFD_, &event);
            }
            return;
        }
        auto connection = std::make_unique<Connection>(fd);
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
            continue;
        }
        if (peer.uid != uid_) {
            report(refusedPeer, refusal(peer));
            continue;
        }
        connection->deadline = Clock::now() + lineTimeout;
        // A client usually writes its line right after connecting: read it without a round
        // through epoll.
        if (const auto end = read(*connection))
            complete(std::move(connection), *end);
        else
            watch(std::move(connection));
    }
}

std::optional<UnixSocket::LineEnd> ServerLoop::Reactor::read(Connection& connection) {
    const auto end = readSome(connection, bufferBudget - buffered_);
    settle(connection, end ? 0 : connection.input.size());
    return end;
}

// Counts `keep` bytes of the connection's unfinished line; memory that a crowd of them made the
// allocator keep is given back once most of it is free.
void ServerLoop::Reactor::settle(Connection& connection, std::size_t keep) {
    buffered_ = buffered_ - connection.counted + keep;
    connection.counted = keep;
    highWater_ = std::max(highWater_, buffered_);
    if (highWater_ >= trimAbove && buffered_ <= highWater_ / 4) {
        ::malloc_trim(0);
        highWater_ = buffered_;
    }
}

void ServerLoop::Reactor::serve(int fd) {
    const auto found = connections_.find(fd);
    if (found == connections_.end())
        return;
    if (found->second->phase == Phase::reading) {
        if (const auto end = read(*found->second))
            complete(unwatch(fd), *end);
        return;
    }
    ConnectionPtr connection = unwatch(fd);
    if (proceed(*connection) == Progress::wait)
        watch(std::move(connection));
}

// False once the server stops.
bool ServerLoop::Reactor::adoptReturned() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t ignored = ::read(shared_->wakeFD, &count, sizeof count);
    std::deque<ConnectionPtr> returned;
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->stopped)
            return false;
        returned.swap(shared_->returned);
    }
    for (auto& connection : returned)
        watch(std::move(connection));
    return true;
}

void ServerLoop::Reactor::expire(Clock::time_point now) {
    if (acceptResumesAt_ && *acceptResumesAt_ <= now) {
        acceptResumesAt_.reset();
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = listenFD_;
        ::epoll_ctl(epollFD_, EPOLL_CTL_MOD, listenFD_, &event);
    }
    while (!deadlines_.empty() && deadlines_.begin()->first <= now) {
        ConnectionPtr connection = unwatch(deadlines_.begin()->second);
        // A request that did not end in time is answered with what came; a reader that did
        // not take its answer in time is dropped.
        if (connection->phase == Phase::reading) {
            settle(*connection, 0);
            complete(std::move(connection), UnixSocket::LineEnd::timedOut);
        }
    }
}

int ServerLoop::Reactor::timeoutMilliseconds() const {
    std::optional<Clock::time_point> next = acceptResumesAt_;
    if (!deadlines_.empty() && (!next || deadlines_.begin()->first < *next))
        next = deadlines_.begin()->first;
    if (!next)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
    return int(std::clamp<std::int64_t>(left, 0, INT_MAX));
}

void ServerLoop::Reactor::watch(ConnectionPtr connection) {
    if (connection->phase != connection->deadlineFor) {
        connection->deadlineFor = connection->phase;
        connection->deadline = Clock::now() + lineTimeout;
    }
    epoll_event event{};
    event.events = connection->phase == Phase::writing ? EPOLLOUT : EPOLLIN;
    event.data.fd = connection->fd;
    if (::epoll_ctl(epollFD_, EPOLL_CTL_ADD, connection->fd, &event) != 0) {
        settle(*connection, 0);
        return;
    }
    deadlines_.emplace(connection->deadline, connection->fd);
    const int fd = connection->fd;
    connections_[fd] = std::move(connection);
}

ConnectionPtr ServerLoop::Reactor::unwatch(int fd) {
    const auto found = connections_.find(fd);
    ConnectionPtr connection = std::move(found->second);
    connections_.erase(found);
    deadlines_.erase({connection->deadline, fd});
    epoll_event ignored{};
    ::epoll_ctl(epollFD_, EPOLL_CTL_DEL, fd, &ignored);
    return connection;
}

void ServerLoop::Reactor::complete(ConnectionPtr connection, UnixSocket::LineEnd end) {
    using LineEnd = UnixSocket::LineEnd;
    if (end == LineEnd::failed)
        return;
    if (end == LineEnd::overBudget) {
        report(overBudget, "Refused a request: unfinished requests hold " +
                               std::to_string(buffered_) + " bytes already");
        return answer(std::move(connection), {false, busyMessage});
    }
    if (end == LineEnd::tooLong) {
        report(malformedRequest,
               "Request too long: " + escapedExcerpt(connection->input, excerptBytes));
        return answer(std::move(connection), {false, tooLongMessage});
    }
    const std::string& bytes = connection->input;
    if (!bytes.empty()) {
        std::optional<LumenorRequest> request;
        try {
            request = LumenorJSON::decode<LumenorRequest>(bytes);
        } catch (const LumenorJSON::DuplicateKey& duplicate) {
            return answer(std::move(connection),
                          {false, "Malformed request: " + std::string(duplicate.what())});
        } catch (const std::exception&) {
        }
        if (request) {
            connection->input = {};
            try {
                shared_->dispatcher(std::move(*request), Answer(shared_, std::move(connection)));
            } catch (...) {
                // Not taken: the connection closes unanswered.
            }
            return;
        }
    }
    // A peer that leaves without a word is no malformed request worth a log line.
    if (!bytes.empty() || end == LineEnd::timedOut)
        report(malformedRequest, bytes.empty()
                                     ? "Malformed request: nothing arrived within 10 seconds"
                                     : "Malformed request: " + escapedExcerpt(bytes, excerptBytes));
    answer(std::move(connection), {false, "Malformed request"});
}

void ServerLoop::Reactor::answer(ConnectionPtr connection, const LumenorResponse& response) {
    connection->output = LumenorJSON::line(response);
    connection->input = {};
    if (proceed(*connection) == Progress::wait)
        watch(std::move(connection));
}

void ServerLoop::Reactor::report(ReportKind kind, const std::string& text) {
    const auto now = Clock::now();
    auto& last = lastReport_[kind];
    if (!shared_->observer || (last && now - *last < reportInterval))
        return;
    last = now;
    try {
        shared_->observer(text);
    } catch (...) {
    }
}

namespace {

// A worker: runs the handler for one request after another and sends its answer.
void work(const std::shared_ptr<ServerLoop::Shared>& shared) {
    for (;;) {
        std::pair<LumenorRequest, ServerLoop::Reply> job;
        {
            std::unique_lock lock(shared->mutex);
            shared->work.wait(lock, [&] { return shared->stopped || !shared->jobs.empty(); });
            if (shared->jobs.empty())
                return;
            job = std::move(shared->jobs.front());
            shared->jobs.pop_front();
        }
        try {
            job.second(shared->handler(job.first));
        } catch (...) {
            // The handler failed: the connection closes unanswered.
        }
    }
}

} // namespace

ServerLoop::ServerLoop(int listenFD, std::shared_ptr<Shared> shared)
    : reactor_(std::make_unique<Reactor>(listenFD, std::move(shared))) {}

std::shared_ptr<ServerLoop> ServerLoop::start(int listenFD, Dispatcher dispatcher,
                                              Observer observer) {
    return launch(listenFD, std::make_shared<Shared>(), std::move(dispatcher), std::move(observer));
}

std::shared_ptr<ServerLoop> ServerLoop::start(int listenFD, Handler handler, Observer observer) {
    auto shared = std::make_shared<Shared>();
    shared->handler = std::move(handler);
    // Plain pointer: the loop that calls this holds the state.
    Dispatcher queue = [pool = shared.get()](LumenorRequest request, Reply reply) {
        {
            std::lock_guard lock(pool->mutex);
            pool->jobs.emplace_back(std::move(request), std::move(reply));
        }
        pool->work.notify_one();
    };
    auto loop = launch(listenFD, shared, std::move(queue), std::move(observer));
    // Workers are detached: one may be waiting for the app's main thread, which may be the very
    // thread that stops the server, so nothing ever joins them. They end once stopped and idle.
    for (int index = 0; index < workers; ++index)
        std::thread(work, shared).detach();
    return loop;
}

std::shared_ptr<ServerLoop> ServerLoop::launch(int listenFD, std::shared_ptr<Shared> shared,
                                               Dispatcher dispatcher, Observer observer) {
    shared->dispatcher = std::move(dispatcher);
    shared->observer = std::move(observer);
    shared->wakeFD = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (shared->wakeFD < 0)
        throwSystem("eventfd");
    std::shared_ptr<ServerLoop> loop(new ServerLoop(listenFD, std::move(shared)));
    loop->reactor_->thread = std::thread(&Reactor::run, loop->reactor_.get());
    return loop;
}

void ServerLoop::stop() {
    if (!reactor_)
        return;
    const std::shared_ptr<Shared> shared = reactor_->shared();
    {
        std::lock_guard lock(shared->mutex);
        shared->stopped = true;
    }
    shared->work.notify_all();
    shared->wakeLoop();
    if (reactor_->thread.joinable())
        reactor_->thread.join();
    reactor_.reset();
    std::lock_guard lock(shared->mutex);
    shared->returned.clear();
}

ServerLoop::~ServerLoop() {
    stop();
}
