#pragma once

#include "Lumenor/UI/MenuTheme.h"

#include <QFocusEvent>

/// A control of the panel on `Base` that knows whether its focus came from the keyboard: the
/// panel's focus ring is drawn for keyboard focus only, not after a click or the panel opening.
template <class Base> class KeyboardFocus : public Base {
public:
    using Base::Base;

protected:
    /// Keyboard focus is on it: subclasses draw their ring.
    bool focusShown() const { return focusShown_ && this->hasFocus(); }

    void focusInEvent(QFocusEvent* event) override {
        focusShown_ = MenuTheme::isKeyboardFocus(event->reason());
        this->update();
        Base::focusInEvent(event);
    }
    void focusOutEvent(QFocusEvent* event) override {
        focusShown_ = false;
        this->update();
        Base::focusOutEvent(event);
    }

private:
    bool focusShown_ = false;
};
