#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

class WakeController;

/// The tray icon's symbolic glyphs: one shape per state, drawn in a single ink so that it
/// reads on whatever colour the panel has.
namespace TrayGlyph {

enum class State { off, awake, awakeDisplay, lidClosed, pendingSleep, remoteArmed, unheld };

/// The state the icon shows, first that applies: a pending sleep, awake asked for but nothing
/// holding the machine (unheld), a session with lid-closed mode active, a session keeping the
/// display on, awake (session or holds), Remote Wake armed, off.
State state(const WakeController& controller);

/// A short name of the state ("off", "awake", ...), for logs and tests.
QString name(State state);

/// The symbolic theme icon of `state` ("com.corvata.lumenor-awake-symbolic", ...).
QString themeName(State state);

/// The glyph of `state` in `ink`, named after its theme icon, at the sizes trays ask for (16 to 48
/// px, 1x and 2x).
QIcon icon(State state, const QColor& ink);

/// The ink that reads on a tray of colour `background`: near white on dark, near black on
/// light.
QColor inkFor(const QColor& background);

} // namespace TrayGlyph
