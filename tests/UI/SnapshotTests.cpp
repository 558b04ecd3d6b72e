#include "Lumenor/UI/Snapshot.h"

#include "Lumenor/UI/MenuView.h"

#include "UI/WidgetsApplication.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

TEST(SnapshotTest, DarkAndLightShowTheCollapsedPanelOnTheirBackgroundsAndNeedAFolder) {
    // The shared controller reads the user's settings: give it a home of its own. It and the
    // application outlive the test, so neither is destroyed.
    static const QTemporaryDir folder;
    for (const char* variable : {"HOME", "LUMENOR_HOME"}) {
        qputenv(variable, folder.path().toUtf8());
    }
    qputenv("XDG_CONFIG_HOME", (folder.path() + "/.config").toUtf8());
    qputenv("XDG_DATA_HOME", (folder.path() + "/.local/share").toUtf8());
    ensureWidgetsApplication();

    Snapshot::render(folder.filePath("dark.png").toStdString(), true);
    Snapshot::render(folder.filePath("light.png").toStdString(), false);
    const QImage dark(folder.filePath("dark.png"));
    const QImage light(folder.filePath("light.png"));
    ASSERT_FALSE(dark.isNull());
    ASSERT_FALSE(light.isNull());
    EXPECT_EQ(dark.size(), light.size());
    EXPECT_EQ(dark.width(), MenuView::viewWidth);
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{dark.width() - 1, dark.height() - 1}}) {
        EXPECT_NEAR(qGray(dark.pixel(x, y)), 41, 1);
        EXPECT_NEAR(qGray(light.pixel(x, y)), 247, 1);
    }

    Snapshot::render(folder.filePath("no-such-folder/panel.png").toStdString(), true);
    EXPECT_FALSE(QDir(folder.path()).exists("no-such-folder"));
}
