#pragma once

#include "Lumenor/UI/KeyboardFocus.h"

#include <QAbstractButton>

/// A button of the panel worked from the keyboard: Space or Enter activates it, the arrows move
/// the focus, and a focus ring is due only while keyboard focus is on it.
class KeyboardButton : public KeyboardFocus<QAbstractButton> {
public:
    using KeyboardFocus::KeyboardFocus;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
