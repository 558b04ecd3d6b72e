#pragma once

#include <QAbstractButton>

/// A button of the panel worked from the keyboard: Space or Enter activates it, the arrows move
/// the focus, and a focus ring is due only while keyboard focus is on it.
class KeyboardButton : public QAbstractButton {
public:
    using QAbstractButton::QAbstractButton;

protected:
    /// Keyboard focus is on it: subclasses draw their ring.
    bool focusShown() const { return focusShown_ && hasFocus(); }

    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool focusShown_ = false;
};
