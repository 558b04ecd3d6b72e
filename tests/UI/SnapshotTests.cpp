#include "Lumenor/UI/Snapshot.h"

#include "Lumenor/UI/MenuView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

class WidgetsEnvironment : public testing::Environment {
public:
    void SetUp() override {
        // The shared controller reads the user's settings: give it a home of its own.
        static QTemporaryDir home;
        qputenv("HOME", home.path().toUtf8());
        qputenv("LUMENOR_HOME", home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());
        qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
        if (QCoreApplication::instance() == nullptr) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            static int argc = 1;
            static char name[] = "SnapshotTests";
            static char* argv[] = {name, nullptr};
            new QApplication(argc, argv);
        }
    }
};
const auto* const environment = testing::AddGlobalTestEnvironment(new WidgetsEnvironment);

int grayAt(const QImage& image, int x, int y) {
    return qGray(image.pixel(x, y));
}

class SnapshotTest : public testing::Test {
protected:
    std::string path(const QString& name) const { return folder.filePath(name).toStdString(); }
    QTemporaryDir folder;
};

TEST_F(SnapshotTest, DarkAndLightShowTheCollapsedPanelOnTheirBackgrounds) {
    const QPalette before = QApplication::palette();
    Snapshot::render(path("dark.png"), true);
    Snapshot::render(path("light.png"), false);
    const QImage dark(QString::fromStdString(path("dark.png")));
    const QImage light(QString::fromStdString(path("light.png")));
    ASSERT_FALSE(dark.isNull());
    ASSERT_FALSE(light.isNull());
    EXPECT_EQ(dark.size(), light.size());
    EXPECT_EQ(dark.width(), MenuView::viewWidth);
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{dark.width() - 1, dark.height() - 1}}) {
        EXPECT_NEAR(grayAt(dark, x, y), 41, 1);
        EXPECT_NEAR(grayAt(light, x, y), 247, 1);
        EXPECT_EQ(qAlpha(dark.pixel(x, y)), 255);
    }
    // Nothing open: exactly as high as a fresh view of the same controller.
    const MenuView fresh(WakeController::shared(), MenuServices::inert());
    EXPECT_EQ(dark.height(), fresh.measuredSize().height());
    // The forced appearance stays on the picture, not on the application.
    EXPECT_EQ(QApplication::palette(), before);
}

TEST_F(SnapshotTest, ReplacesAnOldFileAndLeavesNoneWhereItCannotWrite) {
    QFile old(QString::fromStdString(path("panel.png")));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old picture");
    old.close();
    Snapshot::render(path("panel.png"), false);
    EXPECT_FALSE(QImage(QString::fromStdString(path("panel.png"))).isNull());

    const std::string missing = path("no-such-folder/panel.png");
    Snapshot::render(missing, true);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(missing)));
    EXPECT_FALSE(QFile::exists(folder.filePath("no-such-folder")));
}

} // namespace
