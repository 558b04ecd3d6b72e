#include "Lumenor/UI/DateTimeField.h"

#include "Lumenor/UI/MenuTheme.h"

#include <QPainter>

void DateTimeField::paintEvent(QPaintEvent* event) {
    QDateTimeEdit::paintEvent(event);
    if (!focusShown())
        return;
    // On the frame, which the text field inside leaves uncovered.
    QPainter painter(this);
    MenuTheme::paintFocusRing(painter, *this, QRectF(rect()), 3);
}
