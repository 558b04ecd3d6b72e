#pragma once

#include "Lumenor/UI/KeyboardButton.h"

#include <functional>

class QHBoxLayout;

/// A flat button that lights up under the pointer. Subclasses and callers put their content
/// into contentLayout(); clicks anywhere on it, children included, run the action. From the
/// keyboard it takes Tab focus, Enter or Space runs the action and Up/Down move the focus.
class HoverButton : public KeyboardButton {
    Q_OBJECT

public:
    explicit HoverButton(QWidget* parent = nullptr);
    /// A button showing `label` (and `icon`, when given, at 16 px) on one line.
    HoverButton(const QString& label, const QIcon& icon, std::function<void()> action,
                QWidget* parent = nullptr);

    /// Run on every click (replacing an earlier action).
    void setAction(std::function<void()> action);
    bool isHovered() const { return hovered_; }
    void setCornerRadius(qreal radius);
    QHBoxLayout* contentLayout() const { return content_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    /// Draws the background; the default is a highlight while hovered or pressed.
    virtual void paintBackground(QPainter& painter);
    qreal cornerRadius() const { return radius_; }

private:
    QHBoxLayout* content_ = nullptr;
    std::function<void()> action_;
    qreal radius_ = 6;
    bool hovered_ = false;
};
