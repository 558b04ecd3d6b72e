#include "Lumenor/UI/LoginItem.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

TEST(LoginItemTest, SwitchesTheAutostartEntryForThisCopyOnAndOff) {
    const QTemporaryDir folder;
    const fs::path autostart = fs::path(folder.path().toStdString()) / "autostart";
    // Every character that needs quoting in an Exec line.
    const LoginItem::Context context{autostart, "/x/it's \"$HOME\" `id` \\ 100% #1 (a|b);/Lumenor"};
    const LoginItem::Context other{autostart, "/home/me/build/bin/lumenor-app"};
    const fs::path entry = LoginItem::entryPath(context);
    EXPECT_FALSE(LoginItem::isEnabled(context));

    ASSERT_EQ(LoginItem::set(true, other), std::nullopt);
    EXPECT_FALSE(LoginItem::isEnabled(context));
    EXPECT_EQ(LoginItem::set(true, context), std::nullopt);
    std::ifstream stream(entry, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(stream), {}};
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos) << text;
    EXPECT_TRUE(LoginItem::isEnabled(context));
    EXPECT_EQ(std::distance(fs::directory_iterator(autostart), {}), 1) << "no stray file";

    std::ofstream(entry, std::ios::app) << "Hidden=true\n";
    EXPECT_FALSE(LoginItem::isEnabled(context));

    EXPECT_EQ(LoginItem::set(false, context), std::nullopt);
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_EQ(LoginItem::set(false, context), std::nullopt); // already off
}
