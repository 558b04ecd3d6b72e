#include "Lumenor/UI/MenuPanel.h"

#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <array>
#include <cstdlib>

namespace {

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(qstrlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    free(reply);
    return atom;
}

/// Qt::Tool alone keeps some taskbars (tint2, for one) from hiding the window: the EWMH states
/// say so outright. Set on the unmapped window before each showing, since the window manager
/// drops the states when the window is withdrawn; Qt adds its own states to these.
void skipTaskbarAndPager(QWidget& window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr)
        return;
    xcb_connection_t* connection = x11->connection();
    const auto id = static_cast<xcb_window_t>(window.winId());
    const std::array<xcb_atom_t, 2> states{internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                           internAtom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id,
                        internAtom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(states.size()), states.data());
    xcb_flush(connection);
}

} // namespace

MenuPanel::MenuPanel(QWidget* parent) : QWidget(parent, popupFlags) {
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle("Lumenor");
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
    // A screen shorter than the content gets a panel of the screen's height that scrolls.
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("panelScroll"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->setAutoFillBackground(false);
    scroll_->viewport()->setAutoFillBackground(false);
    scroll_->verticalScrollBar()->setFocusPolicy(Qt::NoFocus);
    layout_->addWidget(scroll_);
    setContent(new QWidget);
    resize(panelWidth, 400);
}

void MenuPanel::setContent(QWidget* content) {
    if (content_ != nullptr) {
        scroll_->takeWidget();
        content_->hide();
        content_->deleteLater();
    }
    content_ = content;
    content_->setAutoFillBackground(false);
    scroll_->setWidget(content_);
}

void MenuPanel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        emit appearanceChanged();
    QWidget::changeEvent(event);
}

void MenuPanel::showEvent(QShowEvent* event) {
    // The show event comes before the window is mapped.
    if (!event->spontaneous())
        skipTaskbarAndPager(*this);
    QWidget::showEvent(event);
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
