#pragma once

#include <QLabel>

/// A one-line label that shortens its text with "…" instead of growing past its room. While
/// shortened, the whole text is its tooltip, or its parent's when the label lets the mouse
/// through to a row; a tooltip someone else set is left alone.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text = {}, QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;

    /// Whether the text does not fit and is shown shortened.
    bool isElided() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void syncToolTip();

    QString offered_;
};
