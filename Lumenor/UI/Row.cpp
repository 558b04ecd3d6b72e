#include "Lumenor/UI/Row.h"

#include "Lumenor/UI/ElidedLabel.h"
#include "Lumenor/UI/MenuTheme.h"
#include "Lumenor/UI/RowIcon.h"
#include "Lumenor/UI/SymbolTable.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace {

constexpr int chevronSide = 12;

/// The chevron, turned a quarter (pointing down) while its section is open.
class Chevron : public QWidget {
public:
    explicit Chevron(QWidget* parent) : QWidget(parent) {
        setFixedSize(chevronSide, chevronSide);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setOpen(bool open) {
        open_ = open;
        setProperty("open", open);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const QPixmap glyph =
            SymbolTable::pixmap(Symbol::disclosure, MenuTheme::secondaryText(palette()),
                                chevronSide, devicePixelRatioF());
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        // Open, it points down; closed, it points to the end of the line, left in a
        // right-to-left layout.
        painter.translate(width() / 2.0, height() / 2.0);
        if (open_)
            painter.rotate(90);
        else if (layoutDirection() == Qt::RightToLeft)
            painter.scale(-1, 1);
        painter.translate(-width() / 2.0, -height() / 2.0);
        painter.drawPixmap(0, 0, glyph);
    }

private:
    bool open_ = false;
};

} // namespace

Row::Row(const QString& symbol, const QString& title, Trailing trailing,
         std::function<void()> action, QWidget* parent)
    : HoverButton(parent) {
    setText(title);
    setAction(std::move(action));
    setFixedHeight(MenuTheme::rowHeight);
    contentLayout()->setContentsMargins(MenuTheme::margins(4, 0, 8, 0));
    icon_ = new RowIcon(symbol, this);
    contentLayout()->addWidget(icon_);
    auto* label = new ElidedLabel(title, this);
    label->setObjectName(QStringLiteral("rowTitle"));
    label->setFont(MenuTheme::font(13));
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    contentLayout()->addWidget(label, 1);
    shortcut_ = new QLabel(this);
    shortcut_->setObjectName(QStringLiteral("rowShortcut"));
    shortcut_->setFont(MenuTheme::font(12));
    shortcut_->setAttribute(Qt::WA_TransparentForMouseEvents);
    MenuTheme::setTone(shortcut_, MenuTheme::Tone::secondary);
    contentLayout()->addWidget(shortcut_);
    chevron_ = new Chevron(this);
    contentLayout()->addWidget(chevron_);
    trailing_ = trailing;
    showTrailing();
}

void Row::setTrailing(Trailing trailing) {
    if (trailing == trailing_) {
        return;
    }
    trailing_ = std::move(trailing);
    showTrailing();
}

void Row::showTrailing() {
    shortcut_->setText(trailing_.text);
    shortcut_->setVisible(trailing_.kind == Trailing::Kind::shortcut);
    chevron_->setVisible(trailing_.kind == Trailing::Kind::chevron);
    static_cast<Chevron*>(chevron_)->setOpen(trailing_.open);
}
