#include "Lumenor/UI/SymbolTable.h"

#include "UI/WidgetsApplication.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

namespace {

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
    ensureWidgetsApplication();
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
        EXPECT_TRUE(installed.contains(name))
            << symbol.toStdString() << " → " << name.toStdString();
        EXPECT_FALSE(SymbolTable::pixmap(symbol, Qt::black, 16).isNull()) << symbol.toStdString();
    }
}

} // namespace
