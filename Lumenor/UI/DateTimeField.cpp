#include "Lumenor/UI/DateTimeField.h"

#include "Lumenor/UI/MenuTheme.h"

#include <QFocusEvent>
#include <QPainter>

void DateTimeField::focusInEvent(QFocusEvent* event) {
    focusShown_ = MenuTheme::isKeyboardFocus(event->reason());
    update();
    QDateTimeEdit::focusInEvent(event);
}

void DateTimeField::focusOutEvent(QFocusEvent* event) {
    focusShown_ = false;
    update();
    QDateTimeEdit::focusOutEvent(event);
}

void DateTimeField::paintEvent(QPaintEvent* event) {
    QDateTimeEdit::paintEvent(event);
    if (!focusShown_ || !hasFocus())
        return;
    // On the frame, which the text field inside leaves uncovered.
    QPainter painter(this);
    MenuTheme::paintFocusRing(painter, *this, QRectF(rect()), 3);
}
