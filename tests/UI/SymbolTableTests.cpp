#include "Lumenor/UI/SymbolTable.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>

namespace {

class WidgetsEnvironment : public testing::Environment {
public:
    void SetUp() override {
        if (QCoreApplication::instance() == nullptr) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            static int argc = 1;
            static char name[] = "SymbolTableTests";
            static char* argv[] = {name, nullptr};
            new QApplication(argc, argv);
        }
    }
};
const auto* const environment = testing::AddGlobalTestEnvironment(new WidgetsEnvironment);

/// Icon names of the installed Adwaita theme, from its files.
QSet<QString> installedIcons() {
    QSet<QString> names;
    QDirIterator files(QStringLiteral("/usr/share/icons/Adwaita"), {"*.svg", "*.png"}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        names.insert(files.nextFileInfo().completeBaseName());
    }
    return names;
}

/// Symbol names written as literals in the interface's sources that draw symbols.
QSet<QString> symbolsInSources() {
    const QStringList drawers{"SymbolTable.h", "RowIcon.h", "Row.h", "PillButton.h", "OptionRow.h"};
    const QRegularExpression literal(QStringLiteral("\"([a-z0-9]+(?:\\.[a-z0-9]+)+)\""));
    QSet<QString> found;
    const QDir folder(QStringLiteral(LUMENOR_SOURCE_DIR "/Lumenor/UI"));
    for (const QString& name : folder.entryList({"*.cpp"}, QDir::Files)) {
        QFile file(folder.filePath(name));
        if (name == "SymbolTable.cpp" || !file.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QString source = QString::fromUtf8(file.readAll());
        const bool draws = std::any_of(drawers.begin(), drawers.end(), [&](const QString& header) {
            return source.contains("Lumenor/UI/" + header);
        });
        for (auto match = literal.globalMatch(source); draws && match.hasNext();) {
            found.insert(match.next().captured(1));
        }
    }
    return found;
}

TEST(SymbolTableTest, EverySymbolTheCodeNamesHasAnInstalledIcon) {
    const QSet<QString> used = symbolsInSources();
    // The scan must see the panel and the tray, or it proves nothing.
    for (const char* expected : {"sun.max.fill", "battery.0percent", "chevron.right"}) {
        EXPECT_TRUE(used.contains(expected)) << expected;
    }
    const QStringList table = SymbolTable::symbols();
    const QSet<QString> installed = installedIcons();
    ASSERT_FALSE(installed.isEmpty()) << "the Adwaita icon theme is not installed";
    for (const QString& symbol : used) {
        EXPECT_TRUE(table.contains(symbol)) << symbol.toStdString() << " has no icon";
    }
    for (const QString& symbol : table) {
        const QString name = SymbolTable::iconName(symbol);
        EXPECT_TRUE(name.endsWith("-symbolic")) << name.toStdString();
        EXPECT_TRUE(installed.contains(name))
            << symbol.toStdString() << " → " << name.toStdString();
        EXPECT_FALSE(SymbolTable::pixmap(symbol, Qt::black, 16).isNull()) << symbol.toStdString();
    }
}

TEST(SymbolTableTest, SymbolsArePaintedInTheAskedColourAndUnknownOnesInNone) {
    const QColor orange(255, 149, 0);
    const QImage image = SymbolTable::pixmap("moon.fill", orange, 24, 2)
                             .toImage()
                             .convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(image.size(), QSize(48, 48));
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() == 255) {
                ++opaque;
                EXPECT_EQ(pixel.rgb(), orange.rgb());
            }
        }
    }
    EXPECT_GT(opaque, 100);

    const QImage light = SymbolTable::icon("timer", false).pixmap(16, 16).toImage();
    const QImage dark = SymbolTable::icon("timer", true).pixmap(16, 16).toImage();
    EXPECT_NE(light, dark);

    EXPECT_TRUE(SymbolTable::iconName("no.such.symbol").isEmpty());
    EXPECT_TRUE(SymbolTable::pixmap("no.such.symbol", Qt::black, 16).isNull());
    EXPECT_TRUE(SymbolTable::icon("", true).isNull());
}

} // namespace
