#include "Lumenor/UI/HoverButton.h"

#include "Lumenor/UI/ElidedLabel.h"
#include "Lumenor/UI/MenuTheme.h"

#include <QEnterEvent>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

HoverButton::HoverButton(QWidget* parent) : KeyboardButton(parent) {
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    content_ = new QHBoxLayout(this);
    content_->setContentsMargins(8, 0, 8, 0);
    content_->setSpacing(8);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_) {
            action_();
        }
    });
}

HoverButton::HoverButton(const QString& label, const QIcon& icon, std::function<void()> action,
                         QWidget* parent)
    : HoverButton(parent) {
    setText(label);
    setAction(std::move(action));
    setFixedHeight(26);
    if (!icon.isNull()) {
        auto* image = new QLabel(this);
        image->setPixmap(icon.pixmap(QSize(16, 16), devicePixelRatioF()));
        image->setFixedSize(16, 16);
        image->setAttribute(Qt::WA_TransparentForMouseEvents);
        content_->addWidget(image);
    }
    auto* name = new ElidedLabel(label, this);
    name->setFont(MenuTheme::font(13));
    name->setAttribute(Qt::WA_TransparentForMouseEvents);
    content_->addWidget(name, 1);
}

void HoverButton::setAction(std::function<void()> action) {
    action_ = std::move(action);
}

void HoverButton::setCornerRadius(qreal radius) {
    radius_ = radius;
    update();
}

QSize HoverButton::sizeHint() const {
    return content_->sizeHint();
}

QSize HoverButton::minimumSizeHint() const {
    return content_->minimumSize();
}

void HoverButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void HoverButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void HoverButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintBackground(painter);
    if (focusShown())
        MenuTheme::paintFocusRing(painter, *this, QRectF(rect()), radius_);
}

void HoverButton::paintBackground(QPainter& painter) {
    if (!isEnabled() || !(hovered_ || isDown())) {
        return;
    }
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), radius_, radius_);
    painter.fillPath(shape, MenuTheme::wash(palette(), isDown() ? 0.14 : 0.08));
}
