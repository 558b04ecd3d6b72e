#pragma once

#include <QAbstractButton>

/// An on/off switch: a rounded track with a sliding knob, in the accent colour when on.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT

public:
    explicit ToggleSwitch(QWidget* parent = nullptr);

    /// Shows `on` without emitting clicked or toggled: the state it mirrors changed elsewhere.
    void showOn(bool on);

    QSize sizeHint() const override { return {34, 20}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};
