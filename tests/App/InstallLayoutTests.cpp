#include "App/Processes.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::set<std::string> filesUnder(const fs::path& root) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (!entry.is_directory())
            files.insert(entry.path().string());
    return files;
}

Finished make(const QStringList& arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // A make that runs the tests must not hand its job server to this one.
    environment.remove("MAKEFLAGS");
    environment.remove("MAKELEVEL");
    return run("make", QStringList{"-s", "-C", LUMENOR_SOURCE_DIR} + arguments, environment);
}

// Installs from this build tree (the release build that `make install` makes by default would
// take minutes) into a staging root, the way a package is built, then uninstalls.
TEST(InstallLayout, InstallsTheLinuxLayoutAndUninstallsEveryTrace) {
    QTemporaryDir staging;
    const fs::path root = staging.path().toStdString();
    const std::string prefix = "/opt/my apps";
    const QStringList where{"INSTALL_TREE=" LUMENOR_BINARY_DIR,
                            "DESTDIR=" + QString::fromStdString(root.string()),
                            "PREFIX=" + QString::fromStdString(prefix)};

    const Finished install = make(QStringList{"install"} + where);
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    const fs::path base = root.string() + prefix;
    const std::set<std::string> installed = filesUnder(root);
    for (const std::string file :
         {"bin/lumenor", "bin/lumenor-app", "share/applications/com.corvata.lumenor.desktop",
          "share/icons/hicolor/scalable/apps/com.corvata.lumenor.svg", "share/lumenor/SKILL.md",
          "lib/systemd/user/lumenor.service", "lib/systemd/user/lumenor.socket",
          "share/icons/hicolor/scalable/status/com.corvata.lumenor-unheld-symbolic.svg"}) {
        EXPECT_TRUE(installed.contains((base / file).string())) << file;
        const bool executable =
            (fs::status(base / file).permissions() & fs::perms::owner_exec) != fs::perms::none;
        EXPECT_EQ(executable, file.starts_with("bin/")) << file;
    }
    // The entry names the app where it will be, not where it was staged.
    const std::string entry = readFile(base / "share/applications/com.corvata.lumenor.desktop");
    EXPECT_NE(entry.find("\nExec=\"" + prefix + "/bin/lumenor-app\"\n"), std::string::npos)
        << entry;
    EXPECT_NE(entry.find("\nIcon=com.corvata.lumenor\n"), std::string::npos);
    const std::string service = readFile(base / "lib/systemd/user/lumenor.service");
    EXPECT_NE(service.find("\nExecStart=\"" + prefix + "/bin/lumenor-app\"\n"), std::string::npos)
        << service;

    // Everything installed is on record, so uninstall can take it all away again.
    std::istringstream manifest(readFile(fs::path(LUMENOR_BINARY_DIR) / "installed-files.txt"));
    std::set<std::string> recorded;
    for (std::string line; std::getline(manifest, line);)
        recorded.insert(line);
    EXPECT_EQ(recorded, installed);

    fs::create_directories(base / "share" / "other");
    const Finished uninstall = make(QStringList{"uninstall"} + where);
    ASSERT_EQ(uninstall.status, 0) << uninstall.out << uninstall.err;
    EXPECT_TRUE(filesUnder(root).empty());
    // Emptied folders go; a folder that something else put there stays.
    EXPECT_FALSE(fs::exists(base / "bin") || fs::exists(base / "share/lumenor"));
    EXPECT_TRUE(fs::exists(base / "share" / "other"));
}

} // namespace
