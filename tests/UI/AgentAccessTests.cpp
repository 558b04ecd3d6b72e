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
    /// An installed copy under `prefix` (bin/lumenor-app, bin/lumenor, share/lumenor/SKILL.md).
    Context makeCopy(const fs::path& prefix, const std::optional<std::string>& skill) {
        write(prefix / "bin" / "lumenor-app", "app");
        write(prefix / "bin" / "lumenor", "#!/bin/sh\n");
        if (skill)
            write(prefix / "share" / "lumenor" / "SKILL.md", *skill);
        return Context::forExecutable(prefix / "bin" / "lumenor-app", home);
    }

    fs::path link() const { return AgentAccess::linkPath(installed); }

    QTemporaryDir folder;
    fs::path root = folder.path().toStdString();
    fs::path home = root / "home";
    Context installed = makeCopy(root / "usr", "skill v1");
};

TEST_F(AgentAccessTest, InstallsForEveryAgentAndRemovesExactlyThat) {
    write(home / ".claude" / "settings.json", "{}");
    write(home / ".codex" / "config.toml", "");
    write(home / ".local" / "bin" / "other-tool", "mine");
    const fs::path claude = home / ".claude" / "skills" / "lumenor" / "SKILL.md";
    const fs::path codex = home / ".codex" / "skills" / "lumenor" / "SKILL.md";

    EXPECT_EQ(AgentAccess::install(installed), std::nullopt);
    EXPECT_EQ(fs::read_symlink(link()), root / "usr" / "bin" / "lumenor");
    EXPECT_EQ(read(claude), "skill v1");
    EXPECT_EQ(read(codex), "skill v1");
    EXPECT_FALSE(fs::exists(home / ".copilot")); // no Copilot here
    EXPECT_TRUE(AgentAccess::isInstalled(installed));

    EXPECT_EQ(AgentAccess::remove(installed), std::nullopt);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link())));
    EXPECT_FALSE(fs::exists(home / ".claude" / "skills"));
    EXPECT_FALSE(fs::exists(home / ".codex" / "skills"));
    // What was there before stays.
    EXPECT_EQ(read(home / ".claude" / "settings.json"), "{}");
    EXPECT_TRUE(fs::exists(home / ".codex" / "config.toml"));
    EXPECT_EQ(read(home / ".local" / "bin" / "other-tool"), "mine");
    EXPECT_FALSE(AgentAccess::isInstalled(installed));
}

TEST_F(AgentAccessTest, WithoutAgentsTheSkillGoesToCopilotAndLeavesNoEmptyFolders) {
    EXPECT_EQ(AgentAccess::install(installed), std::nullopt);
    EXPECT_EQ(read(home / ".copilot" / "skills" / "lumenor" / "SKILL.md"), "skill v1");
    EXPECT_EQ(AgentAccess::remove(installed), std::nullopt);
    EXPECT_TRUE(fs::is_empty(home));

    // A copy without a skill links only.
    const Context bare = makeCopy(root / "opt", std::nullopt);
    EXPECT_EQ(AgentAccess::install(bare), std::nullopt);
    EXPECT_TRUE(AgentAccess::isInstalled(bare));
    EXPECT_FALSE(fs::exists(home / ".copilot"));
}

TEST_F(AgentAccessTest, RefusesToReplaceWhatIsNotOursButRepointsAnotherCopy) {
    const std::string refusal = link().string() + " already exists and isn't Lumenor's";
    write(link(), "somebody's own script");
    EXPECT_EQ(AgentAccess::install(installed), refusal);
    EXPECT_FALSE(AgentAccess::isInstalled(installed));
    EXPECT_EQ(AgentAccess::remove(installed), std::nullopt);
    EXPECT_EQ(read(link()), "somebody's own script");

    fs::remove(link());
    fs::create_symlink("/usr/local/other/bin/lumenor", link());
    EXPECT_EQ(AgentAccess::install(installed), refusal);
    EXPECT_EQ(fs::read_symlink(link()), "/usr/local/other/bin/lumenor");

    // Another copy's command is ours.
    const Context other = makeCopy(root / "usr" / "local", std::nullopt);
    fs::remove(link());
    fs::create_symlink(other.tool, link());
    EXPECT_TRUE(AgentAccess::isInstalled(installed));
    EXPECT_EQ(AgentAccess::install(installed), std::nullopt);
    EXPECT_EQ(fs::read_symlink(link()), installed.tool);
}

TEST_F(AgentAccessTest, CommandInstalledAtTheLinkItselfIsNeverRemoved) {
    const Context local = makeCopy(home / ".local", "skill v1");
    EXPECT_TRUE(AgentAccess::isInstalled(local));
    EXPECT_EQ(AgentAccess::install(local), std::nullopt);
    EXPECT_FALSE(fs::is_symlink(AgentAccess::linkPath(local)));
    EXPECT_EQ(AgentAccess::remove(local), std::nullopt);
    EXPECT_EQ(read(local.tool), "#!/bin/sh\n");
}

TEST_F(AgentAccessTest, FindsItsNeighboursAndOnlyAnInstalledCopyRefreshesAtLaunch) {
    write(root / "src" / "build" / "CMakeCache.txt", "");
    const Context build = makeCopy(root / "src" / "build", "skill v0");
    EXPECT_EQ(build.tool, root / "src" / "build" / "bin" / "lumenor");
    EXPECT_EQ(build.skill, root / "src" / "build" / "share" / "lumenor" / "SKILL.md");
    EXPECT_FALSE(build.refreshes);
    EXPECT_TRUE(installed.refreshes);
    EXPECT_FALSE(Context::forExecutable("lumenor-app", home).refreshes);

    ASSERT_EQ(AgentAccess::install(installed), std::nullopt);
    AgentAccess::refreshIfInstalled(build);
    EXPECT_EQ(fs::read_symlink(link()), installed.tool);

    ASSERT_EQ(AgentAccess::install(build), std::nullopt);
    write(installed.skill, "skill v2");
    AgentAccess::refreshIfInstalled(installed);
    EXPECT_EQ(fs::read_symlink(link()), installed.tool);
    EXPECT_EQ(read(home / ".copilot" / "skills" / "lumenor" / "SKILL.md"), "skill v2");
}

TEST_F(AgentAccessTest, SaysWhenTheLinkFolderIsNotOnPath) {
    const std::string folder = (home / ".local" / "bin").string();
    EXPECT_EQ(AgentAccess::pathAdvice(installed, "/usr/bin:" + folder + "/:/bin"), std::nullopt);
    const auto advice = AgentAccess::pathAdvice(installed, "/usr/bin:/bin");
    ASSERT_TRUE(advice);
    EXPECT_NE(advice->find(folder + " is not on PATH"), std::string::npos);
}

} // namespace
