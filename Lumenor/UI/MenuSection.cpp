#include "Lumenor/UI/MenuSection.h"

#include "Lumenor/UI/MenuTheme.h"

#include <QLabel>
#include <QVBoxLayout>

MenuSection::MenuSection(const QString& title, QWidget* parent) : QWidget(parent) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(5);
    auto* caption = new QLabel(title, this);
    caption->setObjectName(QStringLiteral("sectionCaption"));
    caption->setFont(MenuTheme::font(11, QFont::DemiBold));
    caption->setAlignment(MenuTheme::leading());
    caption->setContentsMargins(MenuTheme::margins(6, 0, 0, 0));
    MenuTheme::setTone(caption, MenuTheme::Tone::secondary);
    stack->addWidget(caption);
    group_ = new GlassGroup(this);
    stack->addWidget(group_);
}

void MenuSection::addWidget(QWidget* widget) {
    group_->addWidget(widget);
}
