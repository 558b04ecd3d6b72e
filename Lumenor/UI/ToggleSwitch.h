#pragma once

#include <QAbstractButton>

/// An on/off switch: a rounded track with a sliding knob, in the accent colour when on. Takes
/// Tab focus; Space or Enter flips it, Up/Down move the focus.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT

public:
    explicit ToggleSwitch(QWidget* parent = nullptr);

    /// Shows `on` without emitting clicked or toggled: the state it mirrors changed elsewhere.
    void showOn(bool on);

    QSize sizeHint() const override { return {34, 20}; }

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool focusShown_ = false;
};
