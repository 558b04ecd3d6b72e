#pragma once

#include "Lumenor/UI/HoverButton.h"

#include <QColor>

/// A wide rounded button filled with its tint, with a white symbol and title.
class PillButton : public HoverButton {
    Q_OBJECT

public:
    /// The tint follows the panel's appearance: it is asked for light or dark at paint time.
    using Tint = QColor (*)(bool dark);

    PillButton(const QString& symbol, const QString& title, Tint tint, std::function<void()> action,
               QWidget* parent = nullptr);

    const QString& symbol() const { return symbol_; }
    /// Compact: a smaller button for inline use (banner, "Set Up").
    void setCompact(bool compact);

    QSize sizeHint() const override;

protected:
    void paintBackground(QPainter& painter) override;

private:
    QString symbol_;
    Tint tint_;
    bool compact_ = false;
};
