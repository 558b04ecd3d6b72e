#pragma once

#include <QColor>
#include <QFont>
#include <QMargins>
#include <QPalette>

class QKeyEvent;
class QPainter;
class QRectF;
class QWidget;

/// Colours and type of the panel, worked out from the palette at paint time so that the
/// panel follows a change between light and dark without being rebuilt.
namespace MenuTheme {

/// Dark when the palette's window colour is dark.
bool isDark(const QPalette& palette);

/// A complete palette for a forced appearance; `window` replaces the window colour when valid.
QPalette palette(bool dark, QColor window = {});

QColor text(const QPalette& palette);
/// Captions, status text and shortcut labels.
QColor secondaryText(const QPalette& palette);
/// The text colour at `alpha`: fills of tiles, chips and hover highlights.
QColor wash(const QPalette& palette, qreal alpha);

/// Switches that are on.
QColor accent(bool dark);
QColor orange(bool dark);
QColor teal(bool dark);
QColor indigo(bool dark);

/// The WCAG contrast ratio of two colours, from 1 to 21.
double contrast(const QColor& a, const QColor& b);

/// The text colour for a filled control: white or near black, whichever contrasts more with
/// `fill`, so that labels on coloured buttons stay readable.
QColor inkOn(const QColor& fill);

/// Text at the start of the line in the app's layout direction: QLabel otherwise aligns by the
/// text's own direction, so English captions stayed left in a right-to-left layout.
Qt::Alignment leading();

/// Margins at the start and end of the line, swapped in a right-to-left layout: Qt's layouts
/// mirror where their items go but keep margins on the sides they were given.
QMargins margins(int start, int top, int end, int bottom);

/// The panel's type at a pixel size.
QFont font(int pixelSize, QFont::Weight weight = QFont::Normal);

/// Text colour roles of a label; see setTone().
enum class Tone { primary, secondary };
/// Marks a label with a tone; applyTones() gives it the matching colour.
void setTone(QWidget* label, Tone tone);
/// Colours every marked label under `root` for root's current palette.
void applyTones(QWidget* root);

/// Whether focus that arrived for `reason` came from the keyboard, and so is drawn.
bool isKeyboardFocus(Qt::FocusReason reason);
/// The ring around the control that has the keyboard focus.
void paintFocusRing(QPainter& painter, const QWidget& control, const QRectF& area, qreal radius);

/// What a key does to a control of the panel: Enter runs it (Space too, through Qt's
/// buttons), Down and Up move the focus to the next or previous control.
enum class KeyAction { none, activate, next, previous };
KeyAction keyAction(const QKeyEvent& event);

constexpr int rowHeight = 30;
constexpr int groupRadius = 10;

} // namespace MenuTheme
