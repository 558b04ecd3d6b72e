#include "ShellSandbox.h"

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

std::string shellWord(const std::string& word) {
    return "'" + std::regex_replace(word, std::regex("'"), "'\\''") + "'";
}

// Coreutils rather than the product's encoder, so that a fault there cannot hide behind itself.
std::string base64(std::string_view text, const char* option) {
    return runProcess({"/usr/bin/base64", option}, {}, text).out;
}

} // namespace

ShellResult runProcess(const std::vector<std::string>& argv,
                       const std::vector<std::string>& environment, std::string_view input) {
    const TemporaryFolder scratch("lumenor-run");
    writeFile(scratch.path() / "in", input);
    std::string command = "/usr/bin/env -i";
    for (const auto& word : environment)
        command += " " + shellWord(word);
    for (const auto& word : argv)
        command += " " + shellWord(word);
    const std::string dir = scratch.path().string();
    command += " <" + dir + "/in >" + dir + "/out 2>" + dir + "/err";
    const int status = std::system(command.c_str());
    return {WEXITSTATUS(status), readFile(scratch.path() / "out"),
            readFile(scratch.path() / "err")};
}

ShellSandbox::ShellSandbox() {
    for (const char* dir : {"tmp", "etc/sudoers.d", "var/lib", "usr/local"})
        fs::create_directories(root_.path() / dir);
    for (const char* empty : {"/fake/calls", "/fake/intercepts", "/sys/class/rtc/rtc0/wakealarm"})
        write(empty, "");
    for (const char* tool : {"/usr/bin/logger", "/usr/bin/flock", "/usr/sbin/rtcwake",
                             "/usr/bin/date", "/usr/bin/install", "/usr/bin/base64"}) {
        writeFile(at(tool), readFile(LUMENOR_SOURCE_DIR "/tests/LumenorCore/StandInTools.sh"));
        fs::permissions(at(tool), fs::perms::owner_all);
    }
}

std::string ShellSandbox::rewrite(std::string_view text) const {
    static const std::regex paths(
        R"((^|[^\w./-])(/var/lib/|/usr/local/|/etc/sudoers\.d/|/tmp/|/sys/class/rtc/|)"
        R"(/usr/sbin/rtcwake\b|/usr/bin/(flock|base64|install|logger|date)\b))");
    const std::string r = root_.path().string();
    const auto relocate = [&](std::string_view part) {
        std::string out = std::regex_replace(std::string(part), paths, "$1" + r + "$2");
        const std::string path = "PATH=/usr/bin:";
        if (const auto at = out.find(path); at != std::string::npos)
            out.replace(at, path.size(), "PATH=" + r + "/usr/bin:" + r + "/bin:/usr/bin:");
        return out;
    };
    // Payloads written with /bin/echo '<base64>' are decoded, rewritten and encoded again.
    const std::string_view start = "/bin/echo '";
    std::string out;
    std::size_t done = 0;
    for (auto at = text.find(start); at != std::string_view::npos; at = text.find(start, done)) {
        const auto begin = at + start.size(), end = text.find('\'', begin);
        out += relocate(text.substr(done, begin - done));
        out += base64(rewrite(base64(text.substr(begin, end - begin), "-d")), "-w0");
        done = end;
    }
    return out + relocate(text.substr(done));
}

ShellResult ShellSandbox::run(std::string_view script) const {
    const std::string r = root_.path().string();
    auto result = runProcess({"/bin/sh", "-c", rewrite(script)},
                             {"PATH=" + r + "/usr/bin:" + r + "/bin:/usr/bin:/bin:/usr/sbin:/sbin",
                              "HOME=" + r, "TZ=UTC", "LC_ALL=C", "SANDBOX_ROOT=" + r,
                              "SANDBOX_NOW=" + std::to_string(now)});
    // The root is letters, digits, '/' and '-', none of them special to a regular expression.
    const std::regex root(r);
    return {result.status, std::regex_replace(result.out, root, ""),
            std::regex_replace(result.err, root, "")};
}

std::optional<std::string> ShellSandbox::read(std::string_view absolute) const {
    if (!fs::is_regular_file(at(absolute)))
        return std::nullopt;
    return readFile(at(absolute));
}

void ShellSandbox::interceptCalls(std::string_view prefix, int status) {
    std::ofstream(at("/fake/intercepts"), std::ios::app) << status << ' ' << prefix << '\n';
}

std::vector<std::string> ShellSandbox::calls(std::string_view prefix) const {
    std::vector<std::string> result;
    std::istringstream in(readFile(at("/fake/calls")));
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(prefix))
            result.push_back(line);
    return result;
}
