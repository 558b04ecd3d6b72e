#include "Lumenor/UI/MenuTheme.h"

#include <algorithm>
#include <cmath>

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QWidget>

namespace {

const char* const toneProperty = "lumenorTone";

QColor withAlpha(QColor color, qreal alpha) {
    color.setAlphaF(alpha);
    return color;
}

} // namespace

namespace MenuTheme {

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QPalette palette(bool dark, QColor window) {
    const QColor background =
        window.isValid() ? window : (dark ? QColor(41, 41, 43) : QColor(247, 247, 247));
    const QColor ink = dark ? QColor(236, 236, 238) : QColor(29, 29, 31);
    const QColor base = dark ? QColor(30, 30, 32) : QColor(255, 255, 255);
    const QColor button = dark ? QColor(58, 58, 60) : QColor(236, 236, 238);
    QPalette result;
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        result.setColor(group, QPalette::Window, background);
        result.setColor(group, QPalette::WindowText, ink);
        result.setColor(group, QPalette::Base, base);
        result.setColor(group, QPalette::AlternateBase, button);
        result.setColor(group, QPalette::Text, ink);
        result.setColor(group, QPalette::Button, button);
        result.setColor(group, QPalette::ButtonText, ink);
        result.setColor(group, QPalette::BrightText, Qt::white);
        result.setColor(group, QPalette::Highlight, accent(dark));
        result.setColor(group, QPalette::HighlightedText, Qt::white);
        result.setColor(group, QPalette::PlaceholderText, withAlpha(ink, 0.5));
        result.setColor(group, QPalette::ToolTipBase, base);
        result.setColor(group, QPalette::ToolTipText, ink);
        result.setColor(group, QPalette::Light, button.lighter(130));
        result.setColor(group, QPalette::Midlight, button.lighter(115));
        result.setColor(group, QPalette::Mid, button.darker(130));
        result.setColor(group, QPalette::Dark, button.darker(160));
        result.setColor(group, QPalette::Shadow, Qt::black);
    }
    const QColor faded = withAlpha(ink, 0.35);
    result.setColor(QPalette::Disabled, QPalette::Window, background);
    result.setColor(QPalette::Disabled, QPalette::Base, base);
    result.setColor(QPalette::Disabled, QPalette::Button, button);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        result.setColor(QPalette::Disabled, role, faded);
    }
    return result;
}

QColor text(const QPalette& palette) {
    return palette.color(QPalette::WindowText);
}

QColor secondaryText(const QPalette& palette) {
    return withAlpha(text(palette), 0.6);
}

QColor wash(const QPalette& palette, qreal alpha) {
    return withAlpha(text(palette), alpha);
}

QColor accent(bool dark) {
    return dark ? QColor(10, 132, 255) : QColor(0, 102, 204);
}
QColor orange(bool dark) {
    return dark ? QColor(255, 159, 10) : QColor(255, 149, 0);
}
QColor teal(bool dark) {
    return dark ? QColor(38, 168, 192) : QColor(22, 150, 172);
}
QColor indigo(bool dark) {
    return dark ? QColor(94, 92, 230) : QColor(88, 86, 214);
}

double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double x = luminance(a), y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

QColor inkOn(const QColor& fill) {
    const QColor white(Qt::white), nearBlack(29, 29, 31);
    return contrast(white, fill) >= contrast(nearBlack, fill) ? white : nearBlack;
}

Qt::Alignment leading() {
    return Qt::AlignAbsolute | Qt::AlignVCenter |
           (QGuiApplication::isRightToLeft() ? Qt::AlignRight : Qt::AlignLeft);
}

QMargins margins(int start, int top, int end, int bottom) {
    return QGuiApplication::isRightToLeft() ? QMargins(end, top, start, bottom)
                                            : QMargins(start, top, end, bottom);
}

QFont font(int pixelSize, QFont::Weight weight) {
    QFont result;
    result.setPixelSize(pixelSize);
    result.setWeight(weight);
    return result;
}

void setTone(QWidget* label, Tone tone) {
    label->setProperty(toneProperty, static_cast<int>(tone));
}

void applyTones(QWidget* root) {
    const QPalette& base = root->palette();
    for (QLabel* label : root->findChildren<QLabel*>()) {
        const QVariant tone = label->property(toneProperty);
        if (!tone.isValid()) {
            continue;
        }
        QPalette palette = label->palette();
        const bool secondary = tone.toInt() == static_cast<int>(Tone::secondary);
        const QColor color = secondary ? secondaryText(base) : text(base);
        palette.setColor(QPalette::Active, QPalette::WindowText, color);
        palette.setColor(QPalette::Inactive, QPalette::WindowText, color);
        palette.setColor(QPalette::Disabled, QPalette::WindowText, wash(base, 0.35));
        label->setPalette(palette);
    }
}

bool isKeyboardFocus(Qt::FocusReason reason) {
    return reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
           reason == Qt::ShortcutFocusReason || reason == Qt::OtherFocusReason;
}

KeyAction keyAction(const QKeyEvent& event) {
    if (event.modifiers() & ~Qt::KeypadModifier)
        return KeyAction::none;
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return KeyAction::activate;
    case Qt::Key_Down:
        return KeyAction::next;
    case Qt::Key_Up:
        return KeyAction::previous;
    default:
        return KeyAction::none;
    }
}

void paintFocusRing(QPainter& painter, const QWidget& control, const QRectF& area, qreal radius) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(1);
    // Two rings, the text colour around the window colour: on any fill one of them stands out
    // (an accent ring vanished on the coloured buttons).
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(text(control.palette()), 2));
    painter.drawRoundedRect(area.adjusted(1, 1, -1, -1), radius, radius);
    painter.setPen(QPen(control.palette().color(QPalette::Window), 1.5));
    painter.drawRoundedRect(area.adjusted(2.75, 2.75, -2.75, -2.75), radius - 1.75, radius - 1.75);
    painter.restore();
}

} // namespace MenuTheme
