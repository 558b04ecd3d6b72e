#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <chrono>
#include <optional>
#include <thread>

/// sway's IPC (the i3-ipc protocol on the socket $SWAYSOCK names): how a Wayland client gets
/// done what only the compositor may do, such as placing one of its windows.
namespace SwayIpc {

/// The message types used here.
enum class Message : quint32 { runCommand = 0, getTree = 4 };

/// Sends one message on a connection of its own to `socket` and returns the reply's payload;
/// none when sway is not there, breaks off, answers out of protocol or not by `deadline`.
std::optional<QJsonDocument> ask(const QString& socket, Message type, const QByteArray& payload,
                                 std::chrono::steady_clock::time_point deadline);

/// The top-left for a floating `frame` in the right-hand corner of `usable` (an output's area
/// less its bars) on the side where bars took room from `output`, the bottom when none did,
/// `margin` px in from both edges: beside swaybar's tray, which sits at the bar's right end.
/// Kept inside `usable` when the frame is larger.
QPoint trayCorner(QRect output, QRect usable, QSize frame, int margin);

/// On sway ($SWAYSOCK set), moves this process's floating window titled `title` to the tray
/// corner of its workspace once the window is there. Works on the returned thread, so the
/// caller never waits for sway; each answer is awaited 500 ms, the window 3 s, then it gives up,
/// with a line at debug level only (category lumenor.placement): the placement is cosmetic.
/// Stopped and joined when the thread is (re)assigned or destroyed; an empty thread off sway.
std::jthread moveToTrayCorner(const QString& title, int margin);

} // namespace SwayIpc
