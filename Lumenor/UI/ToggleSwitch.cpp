#include "Lumenor/UI/ToggleSwitch.h"

#include "Lumenor/UI/MenuTheme.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>

ToggleSwitch::ToggleSwitch(QWidget* parent) : KeyboardButton(parent) {
    setCheckable(true);
    setFixedSize(sizeHint());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void ToggleSwitch::showOn(bool on) {
    if (isChecked() == on) {
        return;
    }
    const QSignalBlocker quiet(this);
    setChecked(on);
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) {
        painter.setOpacity(0.4);
    }
    const bool dark = MenuTheme::isDark(palette());
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;
    QPainterPath trackShape;
    trackShape.addRoundedRect(track, radius, radius);
    painter.fillPath(trackShape, isChecked() ? MenuTheme::accent(dark)
                                             : MenuTheme::wash(palette(), dark ? 0.22 : 0.16));
    const qreal knob = track.height() - 4;
    // On, the knob sits at the end of the line: the left in a right-to-left layout.
    const bool atRight = isChecked() != (layoutDirection() == Qt::RightToLeft);
    const qreal x = atRight ? track.right() - 2 - knob : track.left() + 2;
    const QRectF knobArea(x, track.top() + 2, knob, knob);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(knobArea.translated(0, 0.75));
    painter.setBrush(Qt::white);
    painter.drawEllipse(knobArea);
    if (focusShown())
        MenuTheme::paintFocusRing(painter, *this, QRectF(rect()), radius + 1);
}
