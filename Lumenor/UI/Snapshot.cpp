#include "Lumenor/UI/Snapshot.h"

#include "Lumenor/UI/MenuTheme.h"
#include "Lumenor/UI/MenuView.h"

#include <QApplication>
#include <QBuffer>
#include <QDeadlineTimer>
#include <QImage>
#include <QSaveFile>
#include <QVBoxLayout>

namespace {

constexpr int settleMilliseconds = 500;

QColor background(bool dark) {
    return QColor::fromRgbF(dark ? 0.16f : 0.97f, dark ? 0.16f : 0.97f, dark ? 0.16f : 0.97f);
}

/// Lets layout, polish and queued renders run before the picture is taken.
void settle() {
    QDeadlineTimer deadline(settleMilliseconds);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QCoreApplication::sendPostedEvents();
    }
}

QByteArray encodePNG(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        return {};
    }
    return bytes;
}

QImage draw(bool dark) {
    QWidget canvas;
    canvas.setAttribute(Qt::WA_DontShowOnScreen);
    canvas.setPalette(MenuTheme::palette(dark, background(dark)));
    canvas.setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(&canvas);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new MenuView(WakeController::shared(), MenuServices::inert(), &canvas);
    layout->addWidget(view);
    canvas.resize(view->measuredSize());
    canvas.show();
    settle();
    canvas.resize(view->measuredSize());
    settle();
    return canvas.grab().toImage();
}

} // namespace

namespace Snapshot {

void render(const std::string& path, bool dark) {
    // Widgets need a GUI application; without one there is nothing to draw with.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr || path.empty()) {
        return;
    }
    const QImage image = draw(dark);
    if (image.isNull()) {
        return;
    }
    const QByteArray png = encodePNG(image);
    if (png.isEmpty()) {
        return;
    }
    // Written aside and renamed over the old file, so a failed write leaves that file alone.
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size()) {
        file.cancelWriting();
        return;
    }
    file.commit();
}

} // namespace Snapshot
