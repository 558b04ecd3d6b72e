#include "Lumenor/UI/TrayGlyph.h"

#include "Lumenor/Engine/WakeController.h"

#include <QFile>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace {

// The glyphs are our symbolic theme icons (Resources/icons), drawn in `symbolicInk` there; a
// host that knows the theme name recolours them itself, and our pixmaps replace the ink.
const QString symbolicInk = QStringLiteral("#bebebe");

/// An icon whose pixmaps are ours but which names a theme icon too, so that a StatusNotifierItem
/// host gets both: IconName for hosts that recolour symbolic icons, IconPixmap for the rest.
class NamedIcon final : public QIconEngine {
public:
    NamedIcon(QIcon pixmaps, QString name) : pixmaps_(std::move(pixmaps)), name_(std::move(name)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        pixmaps_.paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return pixmaps_.pixmap(size, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return pixmaps_.actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return pixmaps_.availableSizes(mode, state);
    }
    QString iconName() override { return name_; }
    QString key() const override { return QStringLiteral("TrayGlyph"); }
    QIconEngine* clone() const override { return new NamedIcon(pixmaps_, name_); }

private:
    QIcon pixmaps_;
    QString name_;
};

} // namespace

namespace TrayGlyph {

State state(const WakeController& controller) {
    if (controller.pendingSleep())
        return State::pendingSleep;
    // What was asked is not what is held: the tooltip's status line says why.
    if (controller.isAwake() && !controller.keptAwake())
        return State::unheld;
    if (controller.session() && controller.lidModeActive())
        return State::lidClosed;
    if (controller.session() && controller.keepDisplayOn())
        return State::awakeDisplay;
    if (controller.isAwake())
        return State::awake;
    if (controller.remoteCycleArmed())
        return State::remoteArmed;
    return State::off;
}

QString name(State state) {
    switch (state) {
    case State::off:
        return QStringLiteral("off");
    case State::awake:
        return QStringLiteral("awake");
    case State::awakeDisplay:
        return QStringLiteral("awake-display");
    case State::lidClosed:
        return QStringLiteral("lid-closed");
    case State::pendingSleep:
        return QStringLiteral("pending-sleep");
    case State::remoteArmed:
        return QStringLiteral("remote-armed");
    case State::unheld:
        return QStringLiteral("unheld");
    }
    return {};
}

QString themeName(State state) {
    return QStringLiteral("com.corvata.lumenor-%1-symbolic").arg(name(state));
}

QIcon icon(State state, const QColor& ink) {
    QFile file(QStringLiteral(":/lumenor/icons/%1.svg").arg(themeName(state)));
    file.open(QIODevice::ReadOnly);
    QString text = QString::fromUtf8(file.readAll());
    text.replace(symbolicInk, ink.name(QColor::HexRgb));
    QSvgRenderer renderer(text.toUtf8());
    QIcon result;
    for (const int side : {16, 22, 24, 32, 48}) {
        for (const qreal ratio : {1.0, 2.0}) {
            QPixmap image(QSize(side, side) * ratio);
            image.setDevicePixelRatio(ratio);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            renderer.render(&painter, QRectF(0, 0, side, side));
            painter.end();
            result.addPixmap(image);
        }
    }
    return QIcon(new NamedIcon(result, themeName(state)));
}

QColor inkFor(const QColor& background) {
    return background.lightnessF() < 0.5 ? QColor(0xF2, 0xF2, 0xF4) : QColor(0x1D, 0x1D, 0x1F);
}

} // namespace TrayGlyph
