#pragma once

#include <QWidget>

#include <functional>

class QScrollArea;
class QVBoxLayout;

/// The borderless, rounded, translucent window that drops down under the tray icon. It has no
/// taskbar or pager entry, stays above other windows, scrolls its content when the screen is
/// too short for it, and reports what the panel controller reacts to.
class MenuPanel : public QWidget {
    Q_OBJECT

public:
    static constexpr int panelWidth = 300;
    static constexpr int cornerRadius = 14;
    /// A frameless window above the others, never in the taskbar.
    static constexpr Qt::WindowFlags popupFlags =
        Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;

    explicit MenuPanel(QWidget* parent = nullptr);

    /// Run on Escape (when no control inside took the key).
    std::function<void()> onCancel;

    /// Shows `content` filling the panel; the previous content is deleted on the next turn of
    /// the event loop, so it may be replaced from inside one of its own handlers.
    void setContent(QWidget* content);
    QWidget* content() const { return content_; }
    /// What holds the content: it scrolls when the panel is shorter than the content.
    QScrollArea* scrollArea() const { return scroll_; }

signals:
    /// The panel stopped being the active window.
    void resigned();
    /// The panel moved or was resized.
    void moved();
    /// The palette changed (light or dark desktop).
    void appearanceChanged();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* layout_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* content_ = nullptr;
};
