#pragma once

#include "Lumenor/UI/HoverButton.h"

#include <QWidget>

#include <functional>
#include <vector>

/// A small capsule button with a short label.
class Chip : public HoverButton {
    Q_OBJECT

public:
    Chip(const QString& label, std::function<void()> action, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintBackground(QPainter& painter) override;
};

/// A row of chips, one per value, labelled with the value and the unit run together ("90m");
/// a click passes the value to the action.
class Chips : public QWidget {
    Q_OBJECT

public:
    Chips(const std::vector<int>& values, const QString& unit, std::function<void(int)> action,
          QWidget* parent = nullptr);

    /// The chip labelled `label`, or null.
    Chip* chip(const QString& label) const;
};
