#include "Lumenor/UI/TrayGlyph.h"

#include "Lumenor/Engine/WakeController.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace {

// 24 × 24 shapes in one colour; INK is replaced by the colour. Outlines mean "not keeping
// awake", filled shapes mean "keeping awake".
const char* svg(TrayGlyph::State state) {
    switch (state) {
    case TrayGlyph::State::off:
        return R"(<path d="M14.5 3.2a9 9 0 1 0 6.3 12.6 7.2 7.2 0 0 1-6.3-12.6z" fill="none"
                  stroke="INK" stroke-width="1.9" stroke-linejoin="round"/>)";
    case TrayGlyph::State::awake:
        return R"(<circle cx="12" cy="12" r="4.6" fill="INK"/>
                  <g stroke="INK" stroke-width="2" stroke-linecap="round">
                  <path d="M12 2.2v2.6M12 19.2v2.6M2.2 12h2.6M19.2 12h2.6M5.1 5.1l1.8 1.8
                  M17.1 17.1l1.8 1.8M5.1 18.9l1.8-1.8M17.1 6.9l1.8-1.8"/></g>)";
    case TrayGlyph::State::awakeDisplay:
        return R"(<rect x="2.5" y="3.5" width="19" height="13" rx="2" fill="none" stroke="INK"
                  stroke-width="1.9"/><circle cx="12" cy="10" r="3.2" fill="INK"/>
                  <path d="M12 16.5v3.5M7.5 20.5h9" stroke="INK" stroke-width="1.9"
                  stroke-linecap="round"/>)";
    case TrayGlyph::State::lidClosed:
        return R"(<rect x="4.5" y="4.5" width="15" height="11" rx="1.6" fill="none" stroke="INK"
                  stroke-width="1.9"/><circle cx="12" cy="10" r="2.9" fill="INK"/>
                  <path d="M2 19h20" stroke="INK" stroke-width="2.4" stroke-linecap="round"/>)";
    case TrayGlyph::State::pendingSleep:
        return R"(<path d="M11.5 4.2a8.5 8.5 0 1 0 8.3 10.3 6.8 6.8 0 0 1-8.3-10.3z" fill="INK"/>
                  <path d="M14.5 2.5h5l-5 5.5h5" fill="none" stroke="INK" stroke-width="1.7"
                  stroke-linecap="round" stroke-linejoin="round"/>)";
    case TrayGlyph::State::remoteArmed:
        return R"(<circle cx="12" cy="18" r="2.2" fill="INK"/><g fill="none" stroke="INK"
                  stroke-width="1.9" stroke-linecap="round"><path d="M7.8 13.8a6 6 0 0 1 8.4 0"/>
                  <path d="M4.6 10.6a10.5 10.5 0 0 1 14.8 0"/></g>)";
    }
    return "";
}

} // namespace

namespace TrayGlyph {

State state(const WakeController& controller) {
    if (controller.pendingSleep())
        return State::pendingSleep;
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
    }
    return {};
}

QIcon icon(State state, const QColor& ink) {
    QString text =
        QStringLiteral(R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24">)") +
        QString::fromUtf8(svg(state)) + QStringLiteral("</svg>");
    text.replace(QStringLiteral("INK"), ink.name(QColor::HexRgb));
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
    return result;
}

QColor inkFor(const QColor& background) {
    return background.lightnessF() < 0.5 ? QColor(0xF2, 0xF2, 0xF4) : QColor(0x1D, 0x1D, 0x1F);
}

} // namespace TrayGlyph
