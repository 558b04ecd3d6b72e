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

/// The values of the Symbol constants, read from their header.
QSet<QString> declaredSymbols() {
    QFile header(QStringLiteral(LUMENOR_SOURCE_DIR "/Lumenor/UI/SymbolTable.h"));
    EXPECT_TRUE(header.open(QIODevice::ReadOnly));
    const QRegularExpression constant(
        QStringLiteral(R"re(QString \w+ = QStringLiteral\("([^"]+)"\))re"));
    QSet<QString> found;
    for (auto match = constant.globalMatch(QString::fromUtf8(header.readAll())); match.hasNext();)
        found.insert(match.next().captured(1));
    return found;
}

TEST(SymbolTableTest, EverySymbolHasAnInstalledIcon) {
    ensureWidgetsApplication();
    const QSet<QString> declared = declaredSymbols();
    EXPECT_TRUE(declared.contains(Symbol::battery0)) << "the scan must see the constants";
    const QStringList table = SymbolTable::symbols();
    EXPECT_EQ(QSet<QString>(table.begin(), table.end()), declared);
    const QSet<QString> installed = installedIcons();
    ASSERT_FALSE(installed.isEmpty()) << "the Adwaita icon theme is not installed";
    for (const QString& symbol : table) {
        const QString name = SymbolTable::iconName(symbol);
        EXPECT_TRUE(installed.contains(name))
            << symbol.toStdString() << " → " << name.toStdString();
        EXPECT_FALSE(SymbolTable::pixmap(symbol, Qt::black, 16).isNull()) << symbol.toStdString();
    }
}

} // namespace
