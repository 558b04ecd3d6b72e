#include "Lumenor/UI/GlassGroup.h"

#include "Lumenor/UI/MenuTheme.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

GlassGroup::GlassGroup(QWidget* parent) : QFrame(parent) {
    content_ = new QVBoxLayout(this);
    content_->setContentsMargins(4, 4, 4, 4);
    content_->setSpacing(0);
}

void GlassGroup::addWidget(QWidget* widget) {
    content_->addWidget(widget);
}

void GlassGroup::setTint(const QColor& tint) {
    tint_ = tint;
    update();
}

void GlassGroup::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool dark = MenuTheme::isDark(palette());
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath card;
    card.addRoundedRect(area, MenuTheme::groupRadius, MenuTheme::groupRadius);
    QColor fill = dark ? QColor(255, 255, 255, 16) : QColor(255, 255, 255, 200);
    QColor edge = dark ? QColor(255, 255, 255, 20) : QColor(0, 0, 0, 14);
    if (tint_.isValid()) {
        fill = tint_;
        fill.setAlphaF(dark ? 0.22 : 0.14);
        edge = tint_;
        edge.setAlphaF(0.35);
    }
    painter.fillPath(card, fill);
    painter.setPen(QPen(edge, 1));
    painter.drawPath(card);
}
