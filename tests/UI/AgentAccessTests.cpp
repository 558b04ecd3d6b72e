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
    AgentAccessTest() {
        root = fs::path(folder.path().toStdString());
        installed = makeCopy(root / "home" / "Applications" / "Lumenor.app", "skill v1");
        build = makeCopy(root / "build" / "Lumenor.app", "skill v1");
    }

    Context makeCopy(const fs::path& bundle, const std::optional<std::string>& skill) {
        write(bundle / "Contents" / "Helpers" / "lumenor", "#!/bin/sh\n");
        if (skill)
            write(bundle / "Contents" / "Resources" / "SKILL.md", *skill);
        return Context{root / "home", bundle};
    }

    fs::path link() const { return AgentAccess::linkPath(installed); }
    fs::path skill() const { return AgentAccess::skillPath(installed); }
    std::string refusal() const { return link().string() + " already exists and isn't Lumenor's"; }

    QTemporaryDir folder;
    fs::path root;
    Context installed;
    Context build;
};

TEST_F(AgentAccessTest, InstallsLinkAndSkillAndRemovesThemWithTheSkillFolder) {
    EXPECT_FALSE(AgentAccess::isInstalled(installed));
    EXPECT_TRUE(AgentAccess::skillIsStale(installed)); // nothing installed yet

    EXPECT_EQ(AgentAccess::install(installed), std::nullopt);
    EXPECT_EQ(fs::read_symlink(link()), AgentAccess::toolPath(installed));
    EXPECT_EQ(read(skill()), "skill v1");
    EXPECT_TRUE(AgentAccess::isInstalled(installed));
    EXPECT_FALSE(AgentAccess::skillIsStale(installed));

    write(skill().parent_path() / "notes.txt", "left by the agent");
    EXPECT_EQ(AgentAccess::remove(installed), std::nullopt);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link())));
    EXPECT_FALSE(fs::exists(skill().parent_path()));
    EXPECT_TRUE(fs::exists(skill().parent_path().parent_path())); // other agents' skills stay
    EXPECT_FALSE(AgentAccess::isInstalled(installed));
}

TEST_F(AgentAccessTest, RefusesToReplaceWhatIsNotOurs) {
    write(link(), "somebody's own script");
    write(skill(), "older skill");
    EXPECT_EQ(AgentAccess::install(installed), refusal());
    EXPECT_EQ(read(link()), "somebody's own script");
    EXPECT_EQ(read(skill()), "older skill"); // nothing changed
    EXPECT_FALSE(AgentAccess::isInstalled(installed));

    // remove leaves the foreign file alone and still takes the skill away.
    EXPECT_EQ(AgentAccess::remove(installed), std::nullopt);
    EXPECT_EQ(read(link()), "somebody's own script");
    EXPECT_FALSE(fs::exists(skill()));

    for (const char* target : {"/usr/local/other/bin/lumenor",
                               "/Volumes/Disk/NotLumenor.app/Contents/Helpers/lumenor"}) {
        fs::remove(link());
        fs::create_symlink(target, link());
        EXPECT_FALSE(AgentAccess::isInstalled(installed)) << target;
        EXPECT_EQ(AgentAccess::install(installed), refusal()) << target;
        EXPECT_EQ(AgentAccess::remove(installed), std::nullopt);
        EXPECT_EQ(fs::read_symlink(link()), target);
    }
}

TEST_F(AgentAccessTest, AnotherCopysLinkCountsAsOursEvenWhenBroken) {
    fs::create_directories(link().parent_path());
    fs::create_symlink("/Volumes/Disk/Lumenor.app/Contents/Helpers/lumenor", link());
    EXPECT_TRUE(AgentAccess::isInstalled(installed));

    EXPECT_EQ(AgentAccess::install(installed), std::nullopt);
    EXPECT_EQ(fs::read_symlink(link()), AgentAccess::toolPath(installed));
}

TEST_F(AgentAccessTest, RefreshesOnlyAnInstallationFromAnApplicationsFolder) {
    ASSERT_EQ(AgentAccess::install(build), std::nullopt);
    const fs::path buildTool = AgentAccess::toolPath(build);

    // A copy elsewhere, even one whose folder merely starts like ~/Applications, never
    // re-points the link.
    const Context lookalike = makeCopy(root / "home" / "ApplicationsOld" / "Lumenor.app", "v9");
    AgentAccess::refreshIfInstalled(lookalike);
    AgentAccess::refreshIfInstalled(build);
    EXPECT_EQ(fs::read_symlink(link()), buildTool);

    write(installed.bundle / "Contents" / "Resources" / "SKILL.md", "skill v2");
    AgentAccess::refreshIfInstalled(installed);
    EXPECT_EQ(fs::read_symlink(link()), AgentAccess::toolPath(installed));
    EXPECT_EQ(read(skill()), "skill v2");

    // An unchanged skill is left as it is; a changed one is rewritten.
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24);
    fs::last_write_time(skill(), old);
    AgentAccess::refreshIfInstalled(installed);
    EXPECT_EQ(fs::last_write_time(skill()), old);
    write(installed.bundle / "Contents" / "Resources" / "SKILL.md", "skill v3");
    EXPECT_TRUE(AgentAccess::skillIsStale(installed));
    AgentAccess::refreshIfInstalled(installed);
    EXPECT_EQ(read(skill()), "skill v3");

    // Without an installation there is nothing to refresh.
    ASSERT_EQ(AgentAccess::remove(installed), std::nullopt);
    AgentAccess::refreshIfInstalled(installed);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link())));
    EXPECT_FALSE(fs::exists(skill()));
}

TEST_F(AgentAccessTest, ACopyWithoutASkillLinksOnly) {
    const Context bare = makeCopy(root / "home" / "Applications" / "Bare" / "Lumenor.app", {});
    EXPECT_EQ(AgentAccess::bundledSkill(bare), std::nullopt);
    EXPECT_FALSE(AgentAccess::skillIsStale(bare));
    EXPECT_EQ(AgentAccess::install(bare), std::nullopt);
    EXPECT_TRUE(AgentAccess::isInstalled(bare));
    EXPECT_FALSE(fs::exists(skill()));
}

TEST_F(AgentAccessTest, FailuresCarryThePathAndTheSystemsReason) {
    // A copy without its command would leave a link that does nothing.
    const Context hollow{installed.home, root / "hollow" / "Lumenor.app"};
    EXPECT_EQ(AgentAccess::install(hollow),
              AgentAccess::toolPath(hollow).string() + ": No such file or directory");
    EXPECT_FALSE(fs::exists(link().parent_path()));

    // The skill's folder is blocked by a file: the link stays, the skill failure is reported.
    write(installed.home / ".copilot" / "skills", "not a folder");
    const std::optional<std::string> message = AgentAccess::install(installed);
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->rfind(skill().parent_path().string() + ": ", 0), 0u) << *message;
    EXPECT_NE(message->find("Not a directory"), std::string::npos) << *message;
    EXPECT_TRUE(AgentAccess::isInstalled(installed));
}

} // namespace
