#include "Lumenor/UI/AgentAccess.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using AgentAccess::Context;

namespace {

void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string read(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

class AgentAccessTest : public testing::Test {
protected:
    Context makeCopy(const fs::path& bundle, const std::optional<std::string>& skill) {
        write(bundle / "Contents" / "Helpers" / "lumenor", "#!/bin/sh\n");
        if (skill)
            write(bundle / "Contents" / "Resources" / "SKILL.md", *skill);
        return Context{root / "home", bundle};
    }

    fs::path link() const { return AgentAccess::linkPath(installed); }
    fs::path skill() const { return AgentAccess::skillPath(installed); }

    QTemporaryDir folder;
    fs::path root = folder.path().toStdString();
    Context installed = makeCopy(root / "home" / "Applications" / "Lumenor.app", "skill v1");
};

TEST_F(AgentAccessTest, InstallsLinkAndSkillAndRemovesThem) {
    EXPECT_EQ(AgentAccess::install(installed), std::nullopt);
    EXPECT_EQ(fs::read_symlink(link()), AgentAccess::toolPath(installed));
    EXPECT_EQ(read(skill()), "skill v1");
    EXPECT_TRUE(AgentAccess::isInstalled(installed));

    EXPECT_EQ(AgentAccess::remove(installed), std::nullopt);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link())));
    EXPECT_FALSE(fs::exists(skill()));
    EXPECT_FALSE(AgentAccess::isInstalled(installed));
}

TEST_F(AgentAccessTest, RefusesToReplaceWhatIsNotOursButRepointsAnotherCopy) {
    const std::string refusal = link().string() + " already exists and isn't Lumenor's";
    write(link(), "somebody's own script");
    EXPECT_EQ(AgentAccess::install(installed), refusal);
    EXPECT_FALSE(AgentAccess::isInstalled(installed));
    // remove leaves the foreign file alone.
    EXPECT_EQ(AgentAccess::remove(installed), std::nullopt);
    EXPECT_EQ(read(link()), "somebody's own script");

    fs::remove(link());
    fs::create_symlink("/usr/local/other/bin/lumenor", link());
    EXPECT_EQ(AgentAccess::install(installed), refusal);
    EXPECT_EQ(AgentAccess::remove(installed), std::nullopt);
    EXPECT_EQ(fs::read_symlink(link()), "/usr/local/other/bin/lumenor");

    // Another copy's link is ours even when it dangles.
    fs::remove(link());
    fs::create_symlink("/Volumes/Disk/Lumenor.app/Contents/Helpers/lumenor", link());
    EXPECT_TRUE(AgentAccess::isInstalled(installed));
    EXPECT_EQ(AgentAccess::install(installed), std::nullopt);
    EXPECT_EQ(fs::read_symlink(link()), AgentAccess::toolPath(installed));
}

TEST_F(AgentAccessTest, RefreshesOnlyAnInstallationFromAnApplicationsFolder) {
    const Context build = makeCopy(root / "build" / "Lumenor.app", "skill v1");
    ASSERT_EQ(AgentAccess::install(build), std::nullopt);
    // A copy whose folder merely starts like ~/Applications never re-points the link.
    AgentAccess::refreshIfInstalled(
        makeCopy(root / "home" / "ApplicationsOld" / "Lumenor.app", {}));
    AgentAccess::refreshIfInstalled(build);
    EXPECT_EQ(fs::read_symlink(link()), AgentAccess::toolPath(build));

    write(installed.bundle / "Contents" / "Resources" / "SKILL.md", "skill v2");
    AgentAccess::refreshIfInstalled(installed);
    EXPECT_EQ(fs::read_symlink(link()), AgentAccess::toolPath(installed));
    EXPECT_EQ(read(skill()), "skill v2");
}

TEST_F(AgentAccessTest, ACopyWithoutASkillLinksOnly) {
    const Context bare = makeCopy(root / "home" / "Applications" / "Bare" / "Lumenor.app", {});
    EXPECT_EQ(AgentAccess::install(bare), std::nullopt);
    EXPECT_TRUE(AgentAccess::isInstalled(bare));
    EXPECT_FALSE(fs::exists(skill()));
}

} // namespace
