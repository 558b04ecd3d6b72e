#include "Lumenor/UI/OptionRow.h"

#include "Lumenor/UI/ElidedLabel.h"
#include "Lumenor/UI/MenuTheme.h"
#include "Lumenor/UI/RowIcon.h"
#include "Lumenor/UI/ToggleSwitch.h"

#include <QHBoxLayout>
#include <QMouseEvent>

OptionRow::OptionRow(const QString& symbol, const QString& title,
                     std::function<void(bool)> onChange, QWidget* parent)
    : QWidget(parent), onChange_(std::move(onChange)) {
    setFixedHeight(MenuTheme::rowHeight);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(MenuTheme::margins(4, 0, 6, 0));
    layout->setSpacing(8);
    layout->addWidget(new RowIcon(symbol, this));
    title_ = new ElidedLabel(title, this);
    title_->setObjectName(QStringLiteral("rowTitle"));
    title_->setFont(MenuTheme::font(13));
    layout->addWidget(title_, 1);
    switch_ = new ToggleSwitch(this);
    switch_->setObjectName(QStringLiteral("switch"));
    // The switch is what the keyboard reaches; screen readers name it after its row.
    switch_->setAccessibleName(title);
    layout->addWidget(switch_);
    connect(switch_, &QAbstractButton::clicked, this, [this](bool on) {
        if (onChange_) {
            onChange_(on);
        }
    });
}

void OptionRow::setOn(bool on) {
    switch_->showOn(on);
}

bool OptionRow::isOn() const {
    return switch_->isChecked();
}

void OptionRow::setTitle(const QString& title) {
    title_->setText(title);
    switch_->setAccessibleName(title);
}

QString OptionRow::title() const {
    return title_->text();
}

void OptionRow::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void OptionRow::mouseReleaseEvent(QMouseEvent* event) {
    // The whole row is a large target for the switch.
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        switch_->click();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}
