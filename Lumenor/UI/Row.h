#pragma once

#include "Lumenor/UI/HoverButton.h"

#include <QString>

#include <utility>

class QLabel;
class RowIcon;

/// What a row shows at its right edge.
struct Trailing {
    enum class Kind { none, shortcut, chevron };

    Kind kind = Kind::none;
    /// The shortcut's text, e.g. "Ctrl+I".
    QString text;
    /// A chevron turns down while its section is open.
    bool open = false;

    static Trailing none() { return {}; }
    static Trailing shortcut(QString text) { return {Kind::shortcut, std::move(text), false}; }
    static Trailing chevron(bool open) { return {Kind::chevron, {}, open}; }
    bool operator==(const Trailing&) const = default;
};

/// A menu row: icon, title and a trailing shortcut or chevron; the whole row is the button.
class Row : public HoverButton {
    Q_OBJECT

public:
    Row(const QString& symbol, const QString& title, Trailing trailing,
        std::function<void()> action, QWidget* parent = nullptr);

    const Trailing& trailing() const { return trailing_; }
    void setTrailing(Trailing trailing);
    RowIcon* icon() const { return icon_; }

private:
    void showTrailing();

    Trailing trailing_;
    RowIcon* icon_ = nullptr;
    QLabel* shortcut_ = nullptr;
    QWidget* chevron_ = nullptr;
};
