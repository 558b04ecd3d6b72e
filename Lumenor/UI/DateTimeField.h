#pragma once

#include <QDateTimeEdit>

/// The date and time field of the panel: the style's own focus frame is a pale tint that
/// vanishes on a light panel, so it draws the panel's focus ring while keyboard focus is on it.
class DateTimeField : public QDateTimeEdit {
    Q_OBJECT

public:
    using QDateTimeEdit::QDateTimeEdit;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool focusShown_ = false;
};
