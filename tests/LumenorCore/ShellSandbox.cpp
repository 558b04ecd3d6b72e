#include "ShellSandbox.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The sandbox re-encodes rewritten payloads with its own encoder, so that a fault in the
// product's encoder cannot hide behind the same fault here.
std::string encodeBase64(std::string_view bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned group = 0;
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        for (std::size_t k = 0; k < 3; ++k) {
            group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= n ? alphabet[group >> (18 - 6 * k) & 0x3F] : '=';
        }
    }
    return out;
}

// Standard base64 only; anything else throws std::invalid_argument.
std::string decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) {
        throw std::invalid_argument("base64 length");
    }
    std::string out;
    unsigned group = 0;
    int bits = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=') {
            if (i + 2 < text.size() || (i + 1 < text.size() && text[i + 1] != '=')) {
                throw std::invalid_argument("base64 padding");
            }
            break;
        }
        const auto digit = alphabet.find(text[i]);
        if (digit == std::string_view::npos) {
            throw std::invalid_argument("base64 character");
        }
        group = (group << 6 | static_cast<unsigned>(digit)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>(group >> bits & 0xFF);
        }
    }
    return out;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void spit(const fs::path& path, std::string_view content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::vector<std::string> lines(const fs::path& path) {
    std::vector<std::string> result;
    std::istringstream in(slurp(path));
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

// A scratch file that is gone again when the run ends.
struct ScratchFile {
    explicit ScratchFile(std::string_view content = {}) {
        std::string name = (fs::temp_directory_path() / "lumenor-run-XXXXXX").string();
        const int fd = mkstemp(name.data());
        if (fd < 0) {
            throw std::system_error(errno, std::generic_category(), "mkstemp");
        }
        close(fd);
        path = name;
        spit(path, content);
    }
    ~ScratchFile() { unlink(path.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    std::string path;
};

bool isPathCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-' ||
           c == '/';
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

constexpr std::array relocatedPrefixes{"/Library/", "/var/db/", "/etc/sudoers.d/", "/private/tmp/"};
constexpr std::array standInTools{"/usr/bin/lockf",   "/usr/bin/base64", "/usr/bin/install",
                                  "/usr/bin/pmset",   "/usr/bin/logger", "/bin/launchctl",
                                  "/usr/sbin/visudo", "/usr/bin/date"};
constexpr std::string_view scriptPath = "PATH=/usr/bin:/bin:/usr/sbin:/sbin";
constexpr std::string_view payloadStart = "/bin/echo '";

// Every stand-in starts by recording its call (sandbox prefix removed) and by honouring the
// prefixes listed in fake/fail and fake/ignore.
std::string standInPrelude(const fs::path& root, std::string_view name) {
    const std::string r = root.string();
    return "#!/bin/sh\nFAKE='" + r + "/fake'\n" + "call=$(printf '%s\\n' \"" + std::string(name) +
           " $*\" | /usr/bin/sed 's|" + r + "||g')\n" + R"sh(printf '%s\n' "$call" >> "$FAKE/calls"
matches() {
    [ -f "$FAKE/$1" ] || return 1
    while IFS= read -r prefix; do
        case "$call" in "$prefix"*) return 0 ;; esac
    done < "$FAKE/$1"
    return 1
}
if matches fail; then
    echo "${call%% *}: simulated failure" >&2
    exit 1
fi
if matches ignore; then
    exit 0
fi
)sh";
}

constexpr std::string_view pmsetBody = R"sh(case "${1:-}" in
    -g)
        if [ "${2:-}" = batt ]; then
            echo "Now drawing from '$(cat "$FAKE/source")'"
            if [ -f "$FAKE/percent" ]; then
                printf ' -InternalBattery-0 (id=4653155)\t%s%%; discharging; 3:12 remaining present: true\n' "$(cat "$FAKE/percent")"
            fi
        else
            echo "System-wide power settings:"
            if [ -f "$FAKE/SleepDisabled" ]; then
                printf ' SleepDisabled\t\t%s\n' "$(cat "$FAKE/SleepDisabled")"
            fi
            printf 'Currently in use:\n standby              1\n hibernatemode        3\n'
        fi
        ;;
    -a)
        [ "$#" -eq 3 ] && [ "$2" = disablesleep ] || exit 1
        printf '%s\n' "$3" > "$FAKE/SleepDisabled"
        ;;
    schedule)
        if [ "${2:-}" = cancel ]; then
            [ "$#" -eq 4 ] && [ "$3" = wake ] && grep -qxF -- "$4" "$FAKE/schedule" || exit 1
            grep -vxF -- "$4" "$FAKE/schedule" > "$FAKE/schedule.new"
            mv "$FAKE/schedule.new" "$FAKE/schedule"
        else
            [ "$#" -eq 3 ] && [ "$2" = wake ] || exit 1
            case "$3" in
                [0-9][0-9]/[0-9][0-9]/[0-9][0-9]" "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]) ;;
                *) exit 1 ;;
            esac
            printf '%s\n' "$3" >> "$FAKE/schedule"
        fi
        ;;
    *) exit 1 ;;
esac
)sh";

constexpr std::string_view launchctlBody = R"sh(case "${1:-}" in
    bootstrap)
        label=$(basename "${3:-none}" .plist)
        if [ "${2:-}" != system ] || [ ! -f "${3:-}" ] || [ -f "$FAKE/loaded/$label" ]; then
            echo "Bootstrap failed: 5: Input/output error" >&2
            exit 5
        fi
        touch "$FAKE/loaded/$label"
        ;;
    bootout)
        label=${2#system/}
        if [ ! -f "$FAKE/loaded/$label" ]; then
            echo "Boot-out failed: 3: No such process" >&2
            exit 3
        fi
        rm -f "$FAKE/loaded/$label"
        ;;
    print)
        label=${2#system/}
        if [ ! -f "$FAKE/loaded/$label" ]; then
            echo "Could not find service \"$label\" in domain for system" >&2
            exit 113
        fi
        echo "system/$label = {"
        echo "}"
        ;;
    *) exit 64 ;;
esac
)sh";

constexpr std::string_view loggerBody = R"sh(tag=
if [ "${1:-}" = -t ]; then
    tag=$2
    shift 2
fi
printf '%s: %s\n' "$tag" "$*" >> "$FAKE/syslog"
)sh";

// Waits at most 5 seconds, so that a helper that locks itself fails fast instead of in a minute.
constexpr std::string_view lockfBody =
    R"sh(if [ "${1:-}" != -k ] || [ "${2:-}" != -t ] || [ "$#" -lt 5 ]; then
    echo "usage: lockf -k -t seconds file command [arguments]" >&2
    exit 64
fi
seconds=$3
[ "$seconds" -le 5 ] || seconds=5
file=$4
shift 4
env > "$FAKE/lockf.env"
exec /usr/bin/flock -w "$seconds" "$file" "$@"
)sh";

constexpr std::string_view dateBody = R"sh(case "${1:-}" in
    +%s)
        if [ -n "${SANDBOX_NOW:-}" ]; then
            echo "$SANDBOX_NOW"
        else
            exec /usr/bin/date +%s
        fi
        ;;
    -r) exec /usr/bin/date -d "@$2" "$3" ;;
    *) exec /usr/bin/date "$@" ;;
esac
)sh";

constexpr std::string_view installBody = R"sh(directory=0
owner=
group=
mode=
while getopts do:g:m: option; do
    case "$option" in
        d) directory=1 ;;
        o) owner=$OPTARG ;;
        g) group=$OPTARG ;;
        m) mode=$OPTARG ;;
        *) exit 64 ;;
    esac
done
shift $((OPTIND - 1))
if [ "$directory" = 1 ]; then
    for target in "$@"; do
        mkdir -p "$target" && chmod "$mode" "$target" || exit 1
        printf '%s %s:%s %s\n' "$target" "$owner" "$group" "$mode" >> "$FAKE/owners"
    done
    exit 0
fi
[ "$#" -eq 2 ] || exit 64
cp "$1" "$2" && chmod "$mode" "$2" || exit 1
printf '%s %s:%s %s\n' "$2" "$owner" "$group" "$mode" >> "$FAKE/owners"
)sh";

constexpr std::string_view base64Body = R"sh(if [ "${1:-}" = -D ]; then
    exec /usr/bin/base64 -d
fi
exec /usr/bin/base64 "$@"
)sh";

constexpr std::string_view visudoBody = "exec /usr/sbin/visudo \"$@\"\n";

} // namespace

ShellResult runProcess(const std::vector<std::string>& argv,
                       const std::vector<std::string>& environment, std::string_view input) {
    ScratchFile in(input), out, err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.path.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.path.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err.path.c_str(), O_WRONLY | O_TRUNC, 0);
    std::vector<char*> args, env;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    for (const auto& e : environment) {
        env.push_back(const_cast<char*>(e.c_str()));
    }
    args.push_back(nullptr);
    env.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::system_error(spawned, std::generic_category(), "posix_spawn " + argv[0]);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return {code, slurp(out.path), slurp(err.path)};
}

ShellSandbox::ShellSandbox() {
    std::string name = (fs::temp_directory_path() / "lumenor-sandbox-XXXXXX").string();
    if (mkdtemp(name.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    root_ = name;
    if (name.find_first_of("'| \"\\") != std::string::npos) {
        throw std::runtime_error("sandbox path needs quoting: " + name);
    }
    // The system folders every Mac has; /Library/PrivilegedHelperTools is left to the install.
    for (const char* dir : {"bin", "fake/loaded", "private/tmp", "Library/LaunchDaemons",
                            "etc/sudoers.d", "var/db"}) {
        fs::create_directories(root_ / dir);
    }
    writeStandIns();
    spit(fake("calls"), "");
    setSleepDisabled("0");
    setBattery(false, 100);
}

ShellSandbox::~ShellSandbox() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void ShellSandbox::writeStandIns() const {
    const std::pair<std::string_view, std::string_view> tools[] = {
        {"pmset", pmsetBody},   {"launchctl", launchctlBody}, {"logger", loggerBody},
        {"lockf", lockfBody},   {"date", dateBody},           {"install", installBody},
        {"base64", base64Body}, {"visudo", visudoBody}};
    for (const auto& [name, body] : tools) {
        const fs::path path = root_ / "bin" / name;
        spit(path, standInPrelude(root_, name) + std::string(body));
        fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    }
}

fs::path ShellSandbox::at(std::string_view absolute) const {
    return fs::path(root_.string() + std::string(absolute));
}

std::string ShellSandbox::rewrite(std::string_view text) const {
    const std::string r = root_.string();
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::string_view rest = text.substr(i);
        const bool boundary = i == 0 || !isPathCharacter(text[i - 1]);
        if (boundary && startsWith(rest, payloadStart)) {
            const auto end = rest.find('\'', payloadStart.size());
            if (end != std::string_view::npos) {
                const auto payload = rest.substr(payloadStart.size(), end - payloadStart.size());
                out +=
                    std::string(payloadStart) + encodeBase64(rewrite(decodeBase64(payload))) + "'";
                i += end + 1;
                continue;
            }
        }
        if (boundary && startsWith(rest, scriptPath)) {
            out += "PATH=" + r + "/bin:" + std::string(scriptPath.substr(5));
            i += scriptPath.size();
            continue;
        }
        bool replaced = false;
        for (std::string_view tool : standInTools) {
            const bool whole = startsWith(rest, tool) &&
                               (rest.size() == tool.size() || !isPathCharacter(rest[tool.size()]));
            if (boundary && whole) {
                out += r + "/bin/" + std::string(tool.substr(tool.rfind('/') + 1));
                i += tool.size();
                replaced = true;
                break;
            }
        }
        for (std::string_view prefix : relocatedPrefixes) {
            if (!replaced && boundary && startsWith(rest, prefix)) {
                out += r + std::string(prefix);
                i += prefix.size();
                replaced = true;
            }
        }
        if (!replaced) {
            out += text[i++];
        }
    }
    return out;
}

std::string ShellSandbox::strip(std::string text) const {
    const std::string r = root_.string();
    for (auto at = text.find(r); at != std::string::npos; at = text.find(r, at)) {
        text.erase(at, r.size());
    }
    return text;
}

std::vector<std::string> ShellSandbox::environment() const {
    return {"PATH=" + root_.string() + "/bin:/usr/bin:/bin:/usr/sbin:/sbin",
            "HOME=" + root_.string(), "TZ=UTC", "LC_ALL=C", "SANDBOX_NOW=" + std::to_string(now_)};
}

void ShellSandbox::installScriptFile(std::string_view absolute, std::string_view script) {
    const fs::path path = at(absolute);
    spit(path, rewrite(script));
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
}

ShellResult ShellSandbox::runFile(std::string_view absolute, const std::vector<std::string>& args,
                                  const std::vector<std::string>& extraEnvironment) {
    std::vector<std::string> argv{at(absolute).string()};
    argv.insert(argv.end(), args.begin(), args.end());
    auto env = environment();
    env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
    auto result = runProcess(argv, env);
    return {result.status, strip(result.out), strip(result.err)};
}

ShellResult ShellSandbox::runScript(std::string_view script) {
    const fs::path path = root_ / "script.sh";
    spit(path, rewrite(script));
    auto result = runProcess({"/bin/sh", path.string()}, environment());
    return {result.status, strip(result.out), strip(result.err)};
}

ShellResult ShellSandbox::runCommand(std::string_view command) {
    auto result = runProcess({"/bin/sh", "-c", rewrite(command)}, environment());
    return {result.status, strip(result.out), strip(result.err)};
}

void ShellSandbox::write(std::string_view absolute, std::string_view content) {
    spit(at(absolute), content);
}

std::optional<std::string> ShellSandbox::read(std::string_view absolute) const {
    const fs::path path = at(absolute);
    if (!fs::is_regular_file(path)) {
        return std::nullopt;
    }
    return slurp(path);
}

bool ShellSandbox::exists(std::string_view absolute) const {
    return fs::exists(fs::symlink_status(at(absolute)));
}

unsigned ShellSandbox::mode(std::string_view absolute) const {
    return static_cast<unsigned>(fs::status(at(absolute)).permissions() & fs::perms::mask);
}

void ShellSandbox::setSleepDisabled(std::optional<std::string> value) {
    if (value) {
        spit(fake("SleepDisabled"), *value + "\n");
    } else {
        fs::remove(fake("SleepDisabled"));
    }
}

std::optional<std::string> ShellSandbox::sleepDisabled() const {
    if (!fs::exists(fake("SleepDisabled"))) {
        return std::nullopt;
    }
    auto value = slurp(fake("SleepDisabled"));
    if (!value.empty() && value.back() == '\n') {
        value.pop_back();
    }
    return value;
}

void ShellSandbox::setBattery(bool onBattery, std::optional<int> percent) {
    spit(fake("source"), onBattery ? "Battery Power\n" : "AC Power\n");
    if (percent) {
        spit(fake("percent"), std::to_string(*percent) + "\n");
    } else {
        fs::remove(fake("percent"));
    }
}

std::vector<std::string> ShellSandbox::scheduledWakes() const {
    return lines(fake("schedule"));
}

bool ShellSandbox::isLoaded(std::string_view label) const {
    return fs::exists(fake("loaded") / label);
}

void ShellSandbox::setLoaded(std::string_view label, bool loaded) {
    if (loaded) {
        spit(fake("loaded") / label, "");
    } else {
        fs::remove(fake("loaded") / label);
    }
}

std::vector<std::string> ShellSandbox::systemLog() const {
    return lines(fake("syslog"));
}

std::optional<std::string> ShellSandbox::installedAs(std::string_view absolute) const {
    std::optional<std::string> found;
    const std::string key = std::string(absolute) + " ";
    for (const auto& line : lines(fake("owners"))) {
        const std::string stripped = strip(line);
        if (startsWith(stripped, key)) {
            found = stripped.substr(key.size());
        }
    }
    return found;
}

void ShellSandbox::failCalls(std::string_view prefix) {
    std::ofstream(fake("fail"), std::ios::app) << prefix << '\n';
}

void ShellSandbox::ignoreCalls(std::string_view prefix) {
    std::ofstream(fake("ignore"), std::ios::app) << prefix << '\n';
}

void ShellSandbox::clearFailures() {
    fs::remove(fake("fail"));
    fs::remove(fake("ignore"));
}

std::vector<std::string> ShellSandbox::calls(std::string_view prefix) const {
    std::vector<std::string> result;
    for (const auto& line : lines(fake("calls"))) {
        if (startsWith(line, prefix)) {
            result.push_back(line);
        }
    }
    return result;
}

std::vector<std::string> ShellSandbox::lockfEnvironment() const {
    return lines(fake("lockf.env"));
}

void ShellSandbox::clearCalls() {
    spit(fake("calls"), "");
}
