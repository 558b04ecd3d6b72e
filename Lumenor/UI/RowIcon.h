#pragma once

#include <QColor>
#include <QWidget>

/// The tile in front of a row: a symbol on a faint rounded square. Round with a solid fill
/// it becomes the panel's header badge.
class RowIcon : public QWidget {
    Q_OBJECT

public:
    enum class Shape { tile, round, bare };

    explicit RowIcon(const QString& symbol = {}, QWidget* parent = nullptr);

    const QString& symbol() const { return symbol_; }
    void setSymbol(const QString& symbol);
    /// Side of the square in pixels; the symbol takes a little over half of it.
    void setSide(int side);
    void setShape(Shape shape);
    /// A solid fill (round badge); the symbol is then drawn in white. Invalid: faint tile.
    void setFill(const QColor& top, const QColor& bottom = {});
    /// The symbol's colour; invalid means the palette's text colour.
    void setInk(const QColor& ink);

    QSize sizeHint() const override { return {side_, side_}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintBackground(QPainter& painter) const;
    QColor symbolColor() const;

    QString symbol_;
    int side_ = 24;
    Shape shape_ = Shape::tile;
    QColor fillTop_;
    QColor fillBottom_;
    QColor ink_;
};
