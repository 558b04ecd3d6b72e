#pragma once

#include "Lumenor/UI/KeyboardButton.h"

/// An on/off switch: a rounded track with a sliding knob, in the accent colour when on. Takes
/// Tab focus; Space or Enter flips it, Up/Down move the focus.
class ToggleSwitch : public KeyboardButton {
    Q_OBJECT

public:
    explicit ToggleSwitch(QWidget* parent = nullptr);

    /// Shows `on` without emitting clicked or toggled: the state it mirrors changed elsewhere.
    void showOn(bool on);

    QSize sizeHint() const override { return {34, 20}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};
