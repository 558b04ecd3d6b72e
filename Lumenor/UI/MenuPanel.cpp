#include "Lumenor/UI/MenuPanel.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

MenuPanel::MenuPanel(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle("Lumenor");
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
    setContent(new QWidget);
    resize(panelWidth, 400);
}

void MenuPanel::setContent(QWidget* content) {
    if (content_ != nullptr) {
        layout_->removeWidget(content_);
        content_->hide();
        content_->deleteLater();
    }
    content_ = content;
    layout_->addWidget(content_);
}

bool MenuPanel::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate)
        emit resigned();
    return QWidget::event(event);
}

void MenuPanel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && onCancel) {
        onCancel();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MenuPanel::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    emit moved();
}

void MenuPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    emit moved();
}

void MenuPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius,
                           cornerRadius);
    QColor fill = palette().color(QPalette::Window);
    fill.setAlpha(245);
    QColor edge = palette().color(QPalette::Mid);
    edge.setAlpha(160);
    painter.setPen(QPen(edge, 1));
    painter.setBrush(fill);
    painter.drawPath(outline);
}
