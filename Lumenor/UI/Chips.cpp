#include "Lumenor/UI/Chips.h"

#include "Lumenor/UI/MenuTheme.h"

#include <QGridLayout>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int chipsPerLine = 4;
}

Chip::Chip(const QString& label, std::function<void()> action, QWidget* parent)
    : HoverButton(parent) {
    setText(label);
    setAction(std::move(action));
    setFont(MenuTheme::font(12, QFont::Medium));
    setFixedHeight(24);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize Chip::sizeHint() const {
    return {fontMetrics().horizontalAdvance(text()) + 16, 24};
}

void Chip::paintBackground(QPainter& painter) {
    const bool dark = MenuTheme::isDark(palette());
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath capsule;
    capsule.addRoundedRect(area, area.height() / 2, area.height() / 2);
    QColor fill = MenuTheme::wash(palette(), 0.07);
    QColor ink = MenuTheme::text(palette());
    if (isHovered() || isDown()) {
        fill = MenuTheme::accent(dark);
        fill.setAlphaF(isDown() ? 0.9 : 0.75);
        ink = Qt::white;
    }
    painter.fillPath(capsule, fill);
    painter.setPen(ink);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
}

Chips::Chips(const std::vector<int>& values, const QString& unit, std::function<void(int)> action,
             QWidget* parent)
    : QWidget(parent) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(MenuTheme::margins(36, 2, 6, 6));
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);
    int index = 0;
    for (const int value : values) {
        const QString label = QString::number(value) + unit;
        auto* chip = new Chip(
            label, [action, value] { action(value); }, this);
        chip->setObjectName(QStringLiteral("chip"));
        grid->addWidget(chip, index / chipsPerLine, index % chipsPerLine);
        ++index;
    }
}

Chip* Chips::chip(const QString& label) const {
    for (Chip* candidate : findChildren<Chip*>()) {
        if (candidate->text() == label) {
            return candidate;
        }
    }
    return nullptr;
}
