#include "Lumenor/UI/ElidedLabel.h"

#include <QPainter>
#include <QStyle>

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextFormat(Qt::PlainText);
}

QSize ElidedLabel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

bool ElidedLabel::isElided() const {
    return fontMetrics().horizontalAdvance(text()) > contentsRect().width();
}

void ElidedLabel::syncToolTip() {
    QWidget* target = testAttribute(Qt::WA_TransparentForMouseEvents) && parentWidget() != nullptr
                          ? parentWidget()
                          : this;
    const QString wanted = isElided() ? text() : QString();
    if (wanted == offered_)
        return;
    // Only a tooltip this label offered is replaced; one set by the owner stays.
    if (target->toolTip().isEmpty() || target->toolTip() == offered_)
        target->setToolTip(wanted);
    offered_ = wanted;
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    syncToolTip();
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    // The text may have changed since the last resize.
    syncToolTip();
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
    // Leading means right in a right-to-left layout, as QLabel's own painting has it.
    const Qt::Alignment aligned = QStyle::visualAlignment(layoutDirection(), alignment());
    // The text reads in its own direction: in a mirrored layout "Until…" showed as "…Until".
    painter.setLayoutDirection(shown.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    style()->drawItemText(&painter, area, int(aligned) | Qt::TextSingleLine, palette(), isEnabled(),
                          shown, foregroundRole());
}
