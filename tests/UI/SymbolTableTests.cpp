#include "Lumenor/UI/SymbolTable.h"

#include "UI/WidgetsApplication.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QSet>

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
