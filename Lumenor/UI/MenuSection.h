#pragma once

#include "Lumenor/UI/GlassGroup.h"

#include <QWidget>

/// A small caption above a group of rows.
class MenuSection : public QWidget {
    Q_OBJECT

public:
    explicit MenuSection(const QString& title, QWidget* parent = nullptr);

    void addWidget(QWidget* widget);
    GlassGroup* group() const { return group_; }

private:
    GlassGroup* group_ = nullptr;
};
