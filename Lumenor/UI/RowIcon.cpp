#include "Lumenor/UI/RowIcon.h"

#include "Lumenor/UI/MenuTheme.h"
#include "Lumenor/UI/SymbolTable.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

RowIcon::RowIcon(const QString& symbol, QWidget* parent) : QWidget(parent), symbol_(symbol) {
    setFixedSize(side_, side_);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setProperty("symbol", symbol_);
}

void RowIcon::setSymbol(const QString& symbol) {
    if (symbol == symbol_) {
        return;
    }
    symbol_ = symbol;
    setProperty("symbol", symbol_);
    update();
}

void RowIcon::setSide(int side) {
    side_ = side;
    setFixedSize(side, side);
    update();
}

void RowIcon::setShape(Shape shape) {
    shape_ = shape;
    update();
}

void RowIcon::setFill(const QColor& top, const QColor& bottom) {
    fillTop_ = top;
    fillBottom_ = bottom.isValid() ? bottom : top;
    update();
}

void RowIcon::setInk(const QColor& ink) {
    ink_ = ink;
    update();
}

QColor RowIcon::symbolColor() const {
    if (ink_.isValid()) {
        return ink_;
    }
    if (fillTop_.isValid()) {
        return Qt::white;
    }
    return MenuTheme::text(palette());
}

void RowIcon::paintBackground(QPainter& painter) const {
    if (shape_ == Shape::bare) {
        return;
    }
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath outline;
    const qreal radius = shape_ == Shape::round ? area.width() / 2 : 6;
    outline.addRoundedRect(area, radius, radius);
    if (fillTop_.isValid()) {
        QLinearGradient gradient(area.topLeft(), area.bottomLeft());
        gradient.setColorAt(0, fillTop_);
        gradient.setColorAt(1, fillBottom_);
        painter.fillPath(outline, gradient);
    } else {
        painter.fillPath(outline, MenuTheme::wash(palette(), 0.08));
    }
}

void RowIcon::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) {
        painter.setOpacity(0.4);
    }
    paintBackground(painter);
    const int glyph = shape_ == Shape::bare ? side_ : (side_ * 3 + 4) / 5;
    const QPixmap image = SymbolTable::pixmap(symbol_, symbolColor(), glyph, devicePixelRatioF());
    if (image.isNull()) {
        return;
    }
    const QPointF origin((side_ - glyph) / 2.0, (side_ - glyph) / 2.0);
    painter.drawPixmap(origin, image);
}
