#include "Lumenor/UI/ElidedLabel.h"
#include "Lumenor/UI/MenuView.h"
#include "Lumenor/UI/Snapshot.h"
#include "Lumenor/UI/SymbolTable.h"

#include "UI/WidgetsApplication.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

// First, so that the application is made after the home is set.
TEST(SnapshotTest, DarkAndLightShowTheCollapsedPanelOnTheirBackgroundsAndNeedAFolder) {
    // The shared controller reads the user's settings: give it a home of its own. It and the
    // application outlive the test, so neither is destroyed.
    static const QTemporaryDir folder;
    for (const char* variable : {"HOME", "LUMENOR_HOME"})
        qputenv(variable, folder.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (folder.path() + "/.config").toUtf8());
    qputenv("XDG_DATA_HOME", (folder.path() + "/.local/share").toUtf8());
    ensureWidgetsApplication();

    const auto render = [&](bool dark) {
        const QString path = folder.filePath(dark ? "dark.png" : "light.png");
        Snapshot::render(path.toStdString(), dark);
        return QImage(path);
    };
    const QImage dark = render(true), light = render(false);
    ASSERT_FALSE(dark.isNull() || light.isNull());
    EXPECT_EQ(dark.size(), light.size());
    EXPECT_EQ(dark.width(), MenuView::viewWidth);
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{dark.width() - 1, dark.height() - 1}}) {
        EXPECT_NEAR(qGray(dark.pixel(x, y)), 41, 1);
        EXPECT_NEAR(qGray(light.pixel(x, y)), 247, 1);
    }
    Snapshot::render(folder.filePath("no-such-folder/panel.png").toStdString(), true);
    EXPECT_FALSE(QDir(folder.path()).exists("no-such-folder"));
}

TEST(SymbolTableTest, EveryDeclaredSymbolDrawsAThemeIcon) {
    ensureWidgetsApplication();
    // The values of the Symbol constants, read from their header: one missing from the table
    // would draw nothing.
    QFile header(QStringLiteral(LUMENOR_SOURCE_DIR "/Lumenor/UI/SymbolTable.h"));
    ASSERT_TRUE(header.open(QIODevice::ReadOnly));
    const QRegularExpression constant(R"re(QString \w+ = QStringLiteral\("([^"]+)"\))re");
    QSet<QString> declared;
    for (auto match = constant.globalMatch(QString::fromUtf8(header.readAll())); match.hasNext();)
        declared.insert(match.next().captured(1));
    EXPECT_TRUE(declared.contains(Symbol::battery0)) << "the scan must see the constants";
    const QStringList table = SymbolTable::symbols();
    EXPECT_EQ(QSet<QString>(table.begin(), table.end()), declared);
    for (const QString& symbol : table)
        EXPECT_FALSE(SymbolTable::pixmap(symbol, Qt::black, 16).isNull()) << symbol.toStdString();
}

TEST(ElidedLabel, ShortenedTextIsTheTooltipOfWhatThePointerReaches) {
    ensureWidgetsApplication();
    QWidget row;
    auto* layout = new QHBoxLayout(&row);
    auto* own = new ElidedLabel("Keeping awake while report-final-version.zip downloads");
    auto* passThrough = new ElidedLabel("A rather long application name indeed");
    passThrough->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(own);
    layout->addWidget(passThrough);
    row.resize(160, 30);
    row.grab(); // lays out and paints
    EXPECT_TRUE(own->isElided());
    EXPECT_EQ(own->toolTip(), own->text());
    EXPECT_EQ(row.toolTip(), passThrough->text());

    // Room enough: the tooltips go again, but one the owner set stays.
    own->setToolTip("set by the owner");
    row.resize(1200, 30);
    row.grab();
    EXPECT_FALSE(own->isElided());
    EXPECT_EQ(own->toolTip(), "set by the owner");
    EXPECT_EQ(row.toolTip(), "");
}
