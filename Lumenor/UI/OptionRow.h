#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class RowIcon;
class ToggleSwitch;

/// A row with an icon, a title and a switch bound to a setting: render() shows the value,
/// flipping the switch (or clicking the row) passes the wanted value to onChange.
class OptionRow : public QWidget {
    Q_OBJECT

public:
    OptionRow(const QString& symbol, const QString& title, std::function<void(bool)> onChange,
              QWidget* parent = nullptr);

    void setOn(bool on);
    bool isOn() const;
    void setTitle(const QString& title);
    QString title() const;
    ToggleSwitch* toggle() const { return switch_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QLabel* title_ = nullptr;
    ToggleSwitch* switch_ = nullptr;
    std::function<void(bool)> onChange_;
};
