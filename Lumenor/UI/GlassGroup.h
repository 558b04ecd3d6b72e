#pragma once

#include <QColor>
#include <QFrame>

class QVBoxLayout;

/// The translucent rounded card that groups rows, a little lighter than the panel behind it.
class GlassGroup : public QFrame {
    Q_OBJECT

public:
    explicit GlassGroup(QWidget* parent = nullptr);

    /// Rows are stacked here.
    QVBoxLayout* content() const { return content_; }
    void addWidget(QWidget* widget);
    /// Colours the card (a banner); invalid returns it to the neutral glass.
    void setTint(const QColor& tint);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* content_ = nullptr;
    QColor tint_;
};
