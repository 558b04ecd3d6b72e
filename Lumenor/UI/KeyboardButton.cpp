#include "Lumenor/UI/KeyboardButton.h"

#include "Lumenor/UI/MenuTheme.h"

#include <QKeyEvent>

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
