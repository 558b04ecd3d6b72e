#include "Lumenor/UI/ElidedLabel.h"

#include "UI/WidgetsApplication.h"

#include <gtest/gtest.h>

#include <QHBoxLayout>

namespace {

TEST(ElidedLabel, ShortenedTextIsTheTooltipOfWhatThePointerReaches) {
    ensureWidgetsApplication();
    QWidget row;
    auto* layout = new QHBoxLayout(&row);
    auto* own =
        new ElidedLabel(QStringLiteral("Keeping awake while report-final-version.zip downloads"));
    auto* passThrough = new ElidedLabel(QStringLiteral("A rather long application name indeed"));
    passThrough->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(own);
    layout->addWidget(passThrough);
    row.resize(160, 30);
    row.grab(); // lays out and paints

    EXPECT_TRUE(own->isElided());
    EXPECT_EQ(own->toolTip(), own->text());
    EXPECT_EQ(row.toolTip(), passThrough->text());

    // Room enough: the tooltips go again, but one the owner set stays.
    own->setToolTip(QStringLiteral("set by the owner"));
    row.resize(1200, 30);
    row.grab();
    EXPECT_FALSE(own->isElided());
    EXPECT_EQ(own->toolTip(), "set by the owner");
    EXPECT_EQ(row.toolTip(), "");
}

} // namespace
