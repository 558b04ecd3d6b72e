#pragma once

#include "Lumenor/UI/KeyboardFocus.h"

#include <QDateTimeEdit>

/// The date and time field of the panel: the style's own focus frame is a pale tint that
/// vanishes on a light panel, so it draws the panel's focus ring while keyboard focus is on it.
class DateTimeField : public KeyboardFocus<QDateTimeEdit> {
    Q_OBJECT

public:
    using KeyboardFocus::KeyboardFocus;

protected:
    void paintEvent(QPaintEvent* event) override;
};
