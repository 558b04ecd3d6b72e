#include "Lumenor/UI/PillButton.h"

#include "Lumenor/UI/MenuTheme.h"
#include "Lumenor/UI/SymbolTable.h"

#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int glyphSide = 15;
constexpr int gap = 6;
} // namespace

PillButton::PillButton(const QString& symbol, const QString& title, Tint tint,
                       std::function<void()> action, QWidget* parent)
    : HoverButton(parent), symbol_(symbol), tint_(tint) {
    setText(title);
    setAction(std::move(action));
    setFont(MenuTheme::font(13, QFont::DemiBold));
    setFixedHeight(34);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void PillButton::setCompact(bool compact) {
    compact_ = compact;
    setFont(MenuTheme::font(compact ? 12 : 13, QFont::DemiBold));
    setFixedHeight(compact ? 24 : 34);
    setSizePolicy(compact ? QSizePolicy::Fixed : QSizePolicy::Expanding, QSizePolicy::Fixed);
    updateGeometry();
}

QSize PillButton::sizeHint() const {
    const int glyph = symbol_.isEmpty() ? 0 : glyphSide + gap;
    return {fontMetrics().horizontalAdvance(text()) + glyph + (compact_ ? 20 : 28), height()};
}

void PillButton::paintBackground(QPainter& painter) {
    const bool dark = MenuTheme::isDark(palette());
    QColor fill = tint_(dark);
    if (!isEnabled()) {
        fill = MenuTheme::wash(palette(), 0.12);
    } else if (isDown()) {
        fill = fill.darker(115);
    } else if (isHovered()) {
        fill = fill.lighter(112);
    }
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = compact_ ? area.height() / 2 : 10;
    QPainterPath pill;
    pill.addRoundedRect(area, radius, radius);
    painter.fillPath(pill, fill);

    const QColor ink = isEnabled() ? MenuTheme::inkOn(fill) : MenuTheme::wash(palette(), 0.4);
    const QPixmap glyph = symbol_.isEmpty()
                              ? QPixmap()
                              : SymbolTable::pixmap(symbol_, ink, glyphSide, devicePixelRatioF());
    const int textWidth = fontMetrics().horizontalAdvance(text());
    const int contentWidth = textWidth + (glyph.isNull() ? 0 : glyphSide + gap);
    qreal x = (width() - contentWidth) / 2.0;
    // The symbol leads the title: on its right in a right-to-left layout.
    const bool mirrored = layoutDirection() == Qt::RightToLeft;
    if (!glyph.isNull()) {
        painter.drawPixmap(
            QPointF(mirrored ? x + textWidth + gap : x, (height() - glyphSide) / 2.0), glyph);
        x += mirrored ? 0 : glyphSide + gap;
    }
    painter.setPen(ink);
    painter.setFont(font());
    painter.drawText(QRectF(x, 0, textWidth + 2, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     text());
}
