#include "Lumenor/Platform/DesktopEntry.h"

#include "LumenorCore/Utf8.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace DesktopEntries {

namespace {

/// Entries are a few kilobytes; anything far larger is not one.
constexpr std::streamsize maxEntryBytes = 1 << 20;

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

/// The escapes of string values; others (Exec's \" and friends) are left for the Exec rules.
std::string unescaped(const std::string& value) {
    static const std::map<char, char> escapes = {
        {'s', ' '}, {'n', '\n'}, {'t', '\t'}, {'r', '\r'}, {'\\', '\\'}};
    std::string result;
    for (size_t i = 0; i < value.size(); ++i) {
        const auto escape =
            i + 1 < value.size() && value[i] == '\\' ? escapes.find(value[i + 1]) : escapes.end();
        if (escape != escapes.end()) {
            result += escape->second;
            ++i;
        } else {
            result += value[i];
        }
    }
    return result;
}

/// The keys of the [Desktop Entry] group; the first occurrence of a key counts.
std::map<std::string, std::string> mainGroup(const std::string& text) {
    std::map<std::string, std::string> keys;
    std::istringstream lines(text);
    std::string line;
    bool inMainGroup = false;
    while (std::getline(lines, line)) {
        line = trimmed(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        if (inMainGroup && equals != std::string::npos) {
            keys.emplace(trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1)));
        }
    }
    return keys;
}

/// Name[…] keys to try, best first, for a locale such as "sr_RS.UTF-8@latin".
std::vector<std::string> localeSuffixes(const std::string& locale) {
    const auto at = locale.find('@');
    const std::string modifier = at == std::string::npos ? "" : locale.substr(at + 1);
    std::string base = locale.substr(0, std::min(at, locale.find('.')));
    const auto underscore = base.find('_');
    const std::string language = base.substr(0, underscore);
    const std::string country = underscore == std::string::npos ? "" : base.substr(underscore + 1);
    if (language.empty() || language == "C" || language == "POSIX") {
        return {};
    }
    std::vector<std::string> suffixes;
    if (!country.empty() && !modifier.empty()) {
        suffixes.push_back(language + "_" + country + "@" + modifier);
    }
    if (!country.empty()) {
        suffixes.push_back(language + "_" + country);
    }
    if (!modifier.empty()) {
        suffixes.push_back(language + "@" + modifier);
    }
    suffixes.push_back(language);
    return suffixes;
}

std::optional<std::string> localized(const std::map<std::string, std::string>& keys,
                                     const std::string& key, const std::string& locale) {
    for (const std::string& suffix : localeSuffixes(locale)) {
        if (auto found = keys.find(key + "[" + suffix + "]"); found != keys.end()) {
            return unescaped(found->second);
        }
    }
    if (auto found = keys.find(key); found != keys.end()) {
        return unescaped(found->second);
    }
    return std::nullopt;
}

bool isTrue(const std::map<std::string, std::string>& keys, const std::string& key) {
    const auto found = keys.find(key);
    return found != keys.end() && found->second == "true";
}

/// Splits an Exec= value into arguments: double quotes group, and inside them a backslash takes
/// the next character literally.
std::vector<std::string> execArguments(const std::string& exec) {
    std::vector<std::string> arguments;
    std::string current;
    bool quoted = false;
    bool inArgument = false;
    for (size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (c == '"') {
            quoted = !quoted;
            inArgument = true;
        } else if (c == '\\' && i + 1 < exec.size()) {
            current += exec[++i];
            inArgument = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inArgument) {
                arguments.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument) {
        arguments.push_back(std::move(current));
    }
    return arguments;
}

std::string fileName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> readSmallFile(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        return std::nullopt;
    }
    std::string text(static_cast<size_t>(maxEntryBytes), '\0');
    stream.read(text.data(), maxEntryBytes);
    if (stream.bad()) {
        return std::nullopt;
    }
    text.resize(static_cast<size_t>(stream.gcount()));
    return text;
}

/// The .desktop files below `directory` as (id, path), sorted by id.
std::vector<std::pair<std::string, fs::path>> entryFiles(const fs::path& directory) {
    std::vector<std::pair<std::string, fs::path>> files;
    std::error_code error;
    const auto options = fs::directory_options::skip_permission_denied;
    for (fs::recursive_directory_iterator it(directory, options, error), end; !error && it != end;
         it.increment(error)) {
        const fs::path& path = it->path();
        std::error_code typeError;
        if (path.extension() != ".desktop" || !it->is_regular_file(typeError)) {
            continue;
        }
        std::string id = path.lexically_relative(directory).generic_string();
        std::replace(id.begin(), id.end(), '/', '-');
        files.emplace_back(std::move(id), path);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace

std::string execProgram(const std::string& exec) {
    const std::vector<std::string> arguments = execArguments(exec);
    auto argument = arguments.begin();
    if (argument != arguments.end() && fileName(*argument) == "env") {
        // Skip env's assignments and options; -u and -C take the next word as their value.
        for (++argument; argument != arguments.end(); ++argument) {
            if (*argument == "-u" || *argument == "-C") {
                if (++argument == arguments.end()) {
                    break;
                }
            } else if (argument->find('=') == std::string::npos && argument->rfind('-', 0) != 0) {
                break;
            }
        }
    }
    return argument == arguments.end() ? "" : fileName(*argument);
}

std::optional<DesktopEntry> parse(const std::string& text, const std::string& id,
                                  const std::string& locale) {
    const auto keys = mainGroup(text);
    const auto type = keys.find("Type");
    const auto exec = keys.find("Exec");
    auto name = localized(keys, "Name", locale);
    if (type == keys.end() || type->second != "Application" || exec == keys.end() || !name ||
        name->empty()) {
        return std::nullopt;
    }
    DesktopEntry entry;
    // Old packages write Latin-1; whatever is shown or sent on must be UTF-8.
    entry.id = Utf8::sanitized(id);
    entry.name = Utf8::sanitized(*name);
    entry.program = execProgram(unescaped(exec->second));
    if (entry.program.empty()) {
        return std::nullopt;
    }
    entry.icon = localized(keys, "Icon", "").value_or("");
    entry.isRegular =
        !isTrue(keys, "NoDisplay") && !isTrue(keys, "Hidden") && !isTrue(keys, "Terminal");
    return entry;
}

std::string currentLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (std::string value = environment(name); !value.empty()) {
            return value;
        }
    }
    return {};
}

std::vector<fs::path> applicationDirectories() {
    std::vector<fs::path> bases;
    std::string dataHome = environment("XDG_DATA_HOME");
    if (dataHome.empty() && !environment("HOME").empty()) {
        dataHome = environment("HOME") + "/.local/share";
    }
    bases.emplace_back(dataHome);
    std::string dataDirs = environment("XDG_DATA_DIRS");
    if (dataDirs.empty()) {
        dataDirs = "/usr/local/share:/usr/share";
    }
    std::istringstream parts(dataDirs);
    for (std::string part; std::getline(parts, part, ':');) {
        bases.emplace_back(part);
    }
    std::vector<fs::path> directories;
    for (const fs::path& base : bases) {
        // Relative entries are invalid in these variables and would depend on our working folder.
        if (base.is_absolute()) {
            directories.push_back(base / "applications");
        }
    }
    return directories;
}

std::vector<DesktopEntry> load(const std::vector<fs::path>& directories,
                               const std::string& locale) {
    std::vector<DesktopEntry> entries;
    std::set<std::string> seen;
    for (const fs::path& directory : directories) {
        for (const auto& [id, path] : entryFiles(directory)) {
            if (!seen.insert(id).second) {
                continue;
            }
            if (const auto text = readSmallFile(path)) {
                if (auto entry = parse(*text, id, locale)) {
                    entries.push_back(std::move(*entry));
                }
            }
        }
    }
    return entries;
}

} // namespace DesktopEntries
