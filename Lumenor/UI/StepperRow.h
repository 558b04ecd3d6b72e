#pragma once

#include <QWidget>

#include <functional>

class HoverButton;
class QLabel;

/// A title, a whole-number value with its unit, and minus/plus buttons that move the value by
/// a step without leaving the range. The value shown comes from setValue(); the buttons pass
/// the wanted value to onChange.
class StepperRow : public QWidget {
    Q_OBJECT

public:
    struct Range {
        int lower = 0;
        int upper = 0;
    };

    StepperRow(const QString& title, Range range, int step, const QString& unit,
               std::function<void(int)> onChange, QWidget* parent = nullptr);

    void setValue(int value);
    int value() const { return value_; }
    /// What one press moves the value to; an out-of-range value is first brought into range.
    int decremented() const;
    int incremented() const;
    HoverButton* minusButton() const { return minus_; }
    HoverButton* plusButton() const { return plus_; }

private:
    void propose(int value);

    Range range_;
    int step_;
    QString unit_;
    int value_ = 0;
    std::function<void(int)> onChange_;
    QLabel* valueLabel_ = nullptr;
    HoverButton* minus_ = nullptr;
    HoverButton* plus_ = nullptr;
};
