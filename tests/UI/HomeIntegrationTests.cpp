#include "Lumenor/UI/AgentAccess.h"
#include "Lumenor/UI/LoginItem.h"
#include "Platform/PlatformTestSupport.h"

#include <gmock/gmock.h>

namespace fs = std::filesystem;
using AgentAccess::Context;

namespace {

class AgentAccessTest : public testing::Test {
protected:
    /// An installed copy under `prefix` (bin/lumenor-app, bin/lumenor, share/lumenor/SKILL.md).
    Context makeCopy(const fs::path& prefix, const std::optional<std::string>& skill) {
        writeFile(prefix / "bin" / "lumenor-app", "app");
        writeFile(prefix / "bin" / "lumenor", "#!/bin/sh\n");
        if (skill)
            writeFile(prefix / "share" / "lumenor" / "SKILL.md", *skill);
        return Context::forExecutable(prefix / "bin" / "lumenor-app", home);
    }

    fs::path link() const { return AgentAccess::linkPath(installed); }

    TemporaryFolder folder;
    fs::path root = folder.path();
    fs::path home = root / "home";
    Context installed = makeCopy(root / "usr", "skill v1");
};

TEST_F(AgentAccessTest, InstallsForEveryAgentFoundAndRemovesExactlyThat) {
    const std::vector<std::pair<fs::path, std::string>> own{
        {".claude/settings.json", "{}"}, {".codex/config.toml", ""}, {".local/bin/other", "mine"}};
    for (const auto& [path, text] : own)
        writeFile(home / path, text);
    EXPECT_EQ(AgentAccess::install(installed), std::nullopt);
    EXPECT_EQ(fs::read_symlink(link()), root / "usr/bin/lumenor");
    for (const char* agent : {".claude", ".codex"})
        EXPECT_EQ(readFile(home / agent / "skills/lumenor/SKILL.md"), "skill v1") << agent;
    EXPECT_FALSE(fs::exists(home / ".copilot")); // no Copilot here
    EXPECT_TRUE(AgentAccess::isInstalled(installed));

    EXPECT_EQ(AgentAccess::remove(installed), std::nullopt);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link())));
    EXPECT_FALSE(fs::exists(home / ".claude/skills") || fs::exists(home / ".codex/skills"));
    for (const auto& [path, text] : own)
        EXPECT_EQ(readFile(home / path), text);
}

TEST_F(AgentAccessTest, WithoutAgentsTheSkillGoesToCopilotAndACopyWithoutOneLinksOnly) {
    EXPECT_EQ(AgentAccess::install(installed), std::nullopt);
    EXPECT_EQ(readFile(home / ".copilot/skills/lumenor/SKILL.md"), "skill v1");
    EXPECT_EQ(AgentAccess::remove(installed), std::nullopt);
    EXPECT_TRUE(fs::is_empty(home));

    const Context bare = makeCopy(root / "opt", std::nullopt);
    EXPECT_EQ(AgentAccess::install(bare), std::nullopt);
    EXPECT_TRUE(AgentAccess::isInstalled(bare));
    EXPECT_FALSE(fs::exists(home / ".copilot"));
}

TEST_F(AgentAccessTest, RefusesToReplaceWhatIsNotOursButRepointsAnotherCopy) {
    const std::string refusal = link().string() + " already exists and isn't Lumenor's";
    writeFile(link(), "somebody's own script");
    EXPECT_EQ(AgentAccess::install(installed), refusal);
    EXPECT_FALSE(AgentAccess::isInstalled(installed));
    EXPECT_EQ(AgentAccess::remove(installed), std::nullopt);
    EXPECT_EQ(readFile(link()), "somebody's own script");

    // A link to another copy's command is ours; one to a command without an app beside it isn't.
    const Context other = makeCopy(root / "usr/local", std::nullopt);
    for (const fs::path& target : {fs::path("/usr/local/other/bin/lumenor"), other.tool}) {
        const bool ours = target == other.tool;
        fs::remove(link());
        fs::create_symlink(target, link());
        EXPECT_EQ(AgentAccess::isInstalled(installed), ours);
        EXPECT_EQ(AgentAccess::install(installed), ours ? std::nullopt : std::optional(refusal));
        EXPECT_EQ(fs::read_symlink(link()), ours ? installed.tool : target);
    }
}

TEST_F(AgentAccessTest, CommandInstalledAtTheLinkItselfIsNeverRemoved) {
    const Context local = makeCopy(home / ".local", "skill v1");
    EXPECT_TRUE(AgentAccess::isInstalled(local));
    EXPECT_EQ(AgentAccess::install(local), std::nullopt);
    EXPECT_EQ(AgentAccess::remove(local), std::nullopt);
    EXPECT_EQ(readFile(local.tool), "#!/bin/sh\n");
}

TEST_F(AgentAccessTest, OnlyAnInstalledCopyRefreshesAtLaunch) {
    writeFile(root / "src/build/CMakeCache.txt", "");
    const Context build = makeCopy(root / "src/build", "skill v0");
    EXPECT_FALSE(Context::forExecutable("lumenor-app", home).refreshes);

    ASSERT_EQ(AgentAccess::install(installed), std::nullopt);
    AgentAccess::refreshIfInstalled(build); // a build tree leaves the installed link alone
    EXPECT_EQ(fs::read_symlink(link()), installed.tool);

    ASSERT_EQ(AgentAccess::install(build), std::nullopt);
    writeFile(installed.skill, "skill v2");
    AgentAccess::refreshIfInstalled(installed);
    EXPECT_EQ(fs::read_symlink(link()), installed.tool);
    EXPECT_EQ(readFile(home / ".copilot/skills/lumenor/SKILL.md"), "skill v2");
}

TEST_F(AgentAccessTest, SaysWhenAShellWouldNotRunTheLinkedCommand) {
    ASSERT_EQ(AgentAccess::install(installed), std::nullopt);
    const fs::path other = writeFile(root / "opt/bin/lumenor", "#!/bin/sh\n");
    for (const fs::path& tool : {installed.tool, other})
        fs::permissions(tool, fs::perms::owner_exec, fs::perm_options::add);
    const std::string folder = (home / ".local/bin").string();
    for (const auto& [path, advice] : std::vector<std::pair<std::string, std::string>>{
             {"/nonexistent:" + folder + "/:/bin", ""},
             {(root / "usr/bin").string(), ""}, // a package's /usr/bin/lumenor is the one linked
             {"/bin:relative", folder + " is not on PATH"},
             {(root / "opt/bin:").string() + folder, "a shell runs " + other.string()}}) {
        const auto given = AgentAccess::pathAdvice(installed, path);
        EXPECT_EQ(given.has_value(), !advice.empty()) << path;
        EXPECT_NE(given.value_or("").find(advice), std::string::npos) << path;
    }
}

TEST(LoginItemTest, SwitchesTheAutostartEntryForThisCopyOnAndOff) {
    const TemporaryFolder folder;
    const fs::path autostart = folder.path() / "autostart";
    // Every character that needs quoting in an Exec line.
    const LoginItem::Context context{autostart, "/x/it's \"$HOME\" `id` \\ 100% #1 (a|b);/Lumenor"};
    const fs::path entry = LoginItem::entryPath(context);
    ASSERT_EQ(LoginItem::set(true, {autostart, "/home/me/build/bin/lumenor-app"}), std::nullopt);
    EXPECT_FALSE(LoginItem::isEnabled(context));

    EXPECT_EQ(LoginItem::set(true, context), std::nullopt);
    EXPECT_THAT(readFile(entry), testing::AllOf(testing::StartsWith("[Desktop Entry]\n"),
                                                testing::HasSubstr("\nType=Application\n")));
    EXPECT_TRUE(LoginItem::isEnabled(context));
    EXPECT_EQ(std::distance(fs::directory_iterator(autostart), {}), 1) << "no stray file";
    std::ofstream(entry, std::ios::app) << "Hidden=true\n";
    EXPECT_FALSE(LoginItem::isEnabled(context));

    EXPECT_EQ(LoginItem::set(false, context), std::nullopt);
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_EQ(LoginItem::set(false, context), std::nullopt); // already off
}

} // namespace
