#include "Lumenor/Platform/SwayIpc.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLoggingCategory>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace SwayIpc {
namespace {

// Debug lines are off unless QT_LOGGING_RULES asks for them.
Q_LOGGING_CATEGORY(placement, "lumenor.placement", QtInfoMsg)

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr char magic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t headerSize = sizeof magic + 2 * sizeof(quint32);
// A tree of many windows is a few hundred kilobytes; more is not sway speaking.
constexpr quint32 largestReply = 64 << 20;
constexpr auto answerTime = 500ms;
constexpr auto windowWait = 3s;
constexpr auto lookAgain = 50ms;

/// A descriptor closed when the scope ends.
struct Socket {
    int fd = -1;
    ~Socket() {
        if (fd >= 0)
            ::close(fd);
    }
};

/// True once `fd` is ready for `events`; false on an error or at `deadline`.
bool await(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd watched{fd, events, 0};
        const int ready = ::poll(&watched, 1, int(std::min<std::int64_t>(left.count(), INT_MAX)));
        if (ready > 0)
            return (watched.revents & events) != 0;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

bool sendAll(int fd, const QByteArray& data, Clock::time_point deadline) {
    for (qsizetype sent = 0; sent < data.size();) {
        if (!await(fd, POLLOUT, deadline))
            return false;
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
        sent += std::max<ssize_t>(n, 0);
    }
    return true;
}

bool receive(int fd, char* into, std::size_t size, Clock::time_point deadline) {
    for (std::size_t got = 0; got < size;) {
        if (!await(fd, POLLIN, deadline))
            return false;
        const ssize_t n = ::recv(fd, into + got, size - got, 0);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
            return false;
        got += std::size_t(std::max<ssize_t>(n, 0));
    }
    return true;
}

QRect rectOf(const QJsonValue& node) {
    const QJsonObject rect = node[QLatin1String("rect")].toObject();
    return QRect(rect[QLatin1String("x")].toInt(), rect[QLatin1String("y")].toInt(),
                 rect[QLatin1String("width")].toInt(), rect[QLatin1String("height")].toInt());
}

/// A window of ours in sway's tree and the places around it.
struct Found {
    qint64 id = 0;
    QRect output;
    QRect usable;
    /// The window with its title bar, if sway draws one: what a move places.
    QRect frame;
};

std::optional<Found> findWindow(const QJsonObject& node, qint64 pid, const QString& title,
                                QRect output = {}, QRect usable = {}) {
    const QString type = node[QLatin1String("type")].toString();
    if (type == QLatin1String("output"))
        output = rectOf(node);
    else if (type == QLatin1String("workspace"))
        usable = rectOf(node);
    else if (type == QLatin1String("floating_con") &&
             node[QLatin1String("pid")].toInteger() == pid &&
             node[QLatin1String("name")].toString() == title) {
        QRect frame = rectOf(node);
        frame.setTop(frame.top() -
                     node[QLatin1String("deco_rect")][QLatin1String("height")].toInt());
        return Found{node[QLatin1String("id")].toInteger(), output, usable, frame};
    }
    for (const QLatin1String children : {QLatin1String("nodes"), QLatin1String("floating_nodes")})
        for (const QJsonValue child : node[children].toArray())
            if (auto found = findWindow(child.toObject(), pid, title, output, usable))
                return found;
    return std::nullopt;
}

void place(const std::stop_token& stop, const QString& socket, const QString& title, int margin) {
    const auto giveUp = Clock::now() + windowWait;
    std::optional<Found> window;
    while (!stop.stop_requested()) {
        const auto tree = ask(socket, Message::getTree, {}, Clock::now() + answerTime);
        if (!tree) {
            qCDebug(placement) << "sway did not answer on" << socket;
            return;
        }
        if ((window = findWindow(tree->object(), ::getpid(), title)))
            break;
        if (Clock::now() + lookAgain > giveUp) {
            qCDebug(placement) << "no floating window" << title << "of ours appeared on sway";
            return;
        }
        std::this_thread::sleep_for(lookAgain);
    }
    if (!window)
        return;
    const QPoint corner = trayCorner(window->output, window->usable, window->frame.size(), margin);
    const QString command = QStringLiteral("[con_id=%1] move absolute position %2 px %3 px")
                                .arg(window->id)
                                .arg(corner.x())
                                .arg(corner.y());
    const auto reply =
        ask(socket, Message::runCommand, command.toUtf8(), Clock::now() + answerTime);
    if (!reply || !reply->array().at(0)[QLatin1String("success")].toBool())
        qCDebug(placement) << "sway did not" << command
                           << (reply ? reply->toJson(QJsonDocument::Compact) : "(no answer)");
}

} // namespace

std::optional<QJsonDocument> ask(const QString& socket, Message type, const QByteArray& payload,
                                 Clock::time_point deadline) {
    const QByteArray path = socket.toLocal8Bit();
    sockaddr_un address{};
    if (path.isEmpty() || std::size_t(path.size()) >= sizeof address.sun_path)
        return std::nullopt;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), path.size());
    Socket connection{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
    if (connection.fd < 0 ||
        ::connect(connection.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return std::nullopt;

    QByteArray message(magic, sizeof magic);
    const quint32 header[] = {quint32(payload.size()), quint32(type)};
    message.append(reinterpret_cast<const char*>(header), sizeof header);
    message.append(payload);
    char reply[headerSize];
    if (!sendAll(connection.fd, message, deadline) ||
        !receive(connection.fd, reply, headerSize, deadline) ||
        std::memcmp(reply, magic, sizeof magic) != 0)
        return std::nullopt;
    quint32 size = 0, answered = 0;
    std::memcpy(&size, reply + sizeof magic, sizeof size);
    std::memcpy(&answered, reply + sizeof magic + sizeof size, sizeof answered);
    if (answered != quint32(type) || size > largestReply)
        return std::nullopt;
    QByteArray body(qsizetype(size), Qt::Uninitialized);
    if (!receive(connection.fd, body.data(), size, deadline))
        return std::nullopt;
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        return std::nullopt;
    return document;
}

QPoint trayCorner(QRect output, QRect usable, QSize frame, int margin) {
    const int right = usable.x() + usable.width();
    const int bottom = usable.y() + usable.height();
    const int takenAbove = usable.y() - output.y();
    const int takenBelow = output.y() + output.height() - bottom;
    const int y = takenAbove > takenBelow ? usable.y() + margin : bottom - margin - frame.height();
    return {std::max(usable.x(), right - margin - frame.width()), std::max(usable.y(), y)};
}

std::jthread moveToTrayCorner(const QString& title, int margin) {
    const QString socket = qEnvironmentVariable("SWAYSOCK");
    if (socket.isEmpty())
        return {};
    return std::jthread([=](const std::stop_token& stop) { place(stop, socket, title, margin); });
}

} // namespace SwayIpc
