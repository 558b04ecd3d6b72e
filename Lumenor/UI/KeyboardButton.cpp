#include "Lumenor/UI/KeyboardButton.h"

#include "Lumenor/UI/MenuTheme.h"

#include <QFocusEvent>
#include <QKeyEvent>

void KeyboardButton::focusInEvent(QFocusEvent* event) {
    // Drawn for keyboard focus only: a click or the panel opening shows no ring.
    focusShown_ = MenuTheme::isKeyboardFocus(event->reason());
    update();
    QAbstractButton::focusInEvent(event);
}

void KeyboardButton::focusOutEvent(QFocusEvent* event) {
    focusShown_ = false;
    update();
    QAbstractButton::focusOutEvent(event);
}

void KeyboardButton::keyPressEvent(QKeyEvent* event) {
    const MenuTheme::KeyAction action = MenuTheme::keyAction(*event);
    if (action == MenuTheme::KeyAction::activate) {
        if (isEnabled())
            click();
    } else if (action != MenuTheme::KeyAction::none) {
        focusNextPrevChild(action == MenuTheme::KeyAction::next);
    } else {
        QAbstractButton::keyPressEvent(event);
    }
}
