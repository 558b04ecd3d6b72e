#include "Lumenor/UI/LoginItem.h"

#include "LumenorCore/LumenorPaths.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace LoginItem {
namespace {

std::string failure(const fs::path& path, int code) {
    return path.string() + ": " + std::error_code(code, std::generic_category()).message();
}

bool writable(const std::string& executable) {
    for (unsigned char c : executable) {
        // A desktop entry has no way to carry control characters, and the program path of
        // Exec= may not contain "=".
        if (c < 0x20 || c == 0x7f || c == '=')
            return false;
    }
    return !executable.empty();
}

/// Undoes the escapes of a string value (\s \n \t \r \\); an unknown escape is kept as is.
std::string unescapeString(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[++i];
        switch (next) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            out += '\\', out += next;
        }
    }
    return out;
}

std::string expandPercent(const std::string& argument) {
    std::string out;
    for (std::size_t i = 0; i < argument.size(); ++i) {
        out += argument[i];
        if (argument[i] == '%' && i + 1 < argument.size() && argument[i + 1] == '%')
            ++i;
    }
    return out;
}

std::optional<std::string> writeReplacing(const fs::path& path, const std::string& text) {
    const fs::path temporary = path.string() + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return failure(temporary, errno);
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int code = errno;
            ::close(fd);
            ::unlink(temporary.c_str());
            return failure(temporary, code);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int code = errno;
        ::unlink(temporary.c_str());
        return failure(path, code);
    }
    return std::nullopt;
}

struct EntryFields {
    std::optional<std::string> exec;
    bool hidden = false;
};

EntryFields readEntry(std::istream& stream) {
    EntryFields fields;
    std::string line;
    bool inMainGroup = false;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inMainGroup || equals == std::string::npos)
            continue;
        std::string key = line.substr(0, equals);
        while (!key.empty() && key.back() == ' ')
            key.pop_back();
        std::string value = line.substr(equals + 1);
        value.erase(0, value.find_first_not_of(' '));
        if (key == "Exec")
            fields.exec = value;
        else if (key == "Hidden" && value == "true")
            fields.hidden = true;
        else if (key == "X-GNOME-Autostart-enabled" && value == "false")
            fields.hidden = true; // how GNOME switches an entry off without removing it
    }
    return fields;
}

bool sameFile(const fs::path& a, const fs::path& b) {
    if (a == b)
        return true;
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

} // namespace

Context Context::current() {
    fs::path config;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    // Relative values are invalid and ignored.
    if (xdg != nullptr && *xdg == '/')
        config = xdg;
    else
        config = LumenorPaths::homeDirectory() / ".config";
    std::error_code error;
    fs::path executable = fs::read_symlink("/proc/self/exe", error);
    return Context{config / "autostart", error ? fs::path() : std::move(executable)};
}

fs::path entryPath(const Context& context) {
    return context.autostartDirectory / (LumenorPaths::desktopId + ".desktop");
}

std::string quotedExec(const std::string& executable) {
    std::string quoted = "\"";
    for (char c : executable) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    quoted += '"';
    // The string escapes are undone before the quoting, so every backslash doubles again.
    std::string value;
    for (char c : quoted) {
        if (c == '\\')
            value += '\\';
        value += c;
    }
    return value;
}

std::optional<std::string> execProgram(const std::string& value) {
    const std::string line = unescapeString(value);
    std::string program;
    if (line.empty())
        return std::nullopt;
    if (line.front() != '"') {
        program = line.substr(0, line.find_first_of(" \t"));
        return expandPercent(program);
    }
    for (std::size_t i = 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"')
            return expandPercent(program);
        if (c == '\\' && i + 1 < line.size())
            program += line[++i];
        else
            program += c;
    }
    return std::nullopt; // the quote never closes
}

std::optional<std::string> entryText(const fs::path& executable) {
    if (!executable.is_absolute() || !writable(executable.string()))
        return std::nullopt;
    std::ostringstream text;
    text << "[Desktop Entry]\n"
         << "Type=Application\n"
         << "Name=Lumenor\n"
         << "Comment=Keeps the computer awake on request\n"
         << "Exec=" << quotedExec(executable.string()) << " --background\n"
         << "Icon=com.corvata.lumenor\n"
         << "Terminal=false\n"
         << "X-GNOME-Autostart-enabled=true\n";
    return text.str();
}

std::optional<std::string> set(bool enabled, const Context& context) {
    const fs::path entry = entryPath(context);
    std::error_code error;
    if (!enabled) {
        if (fs::remove(entry, error); error)
            return entry.string() + ": " + error.message();
        return std::nullopt;
    }
    const std::optional<std::string> text = entryText(context.executable);
    if (!text)
        return "The app's location (" + context.executable.string() +
               ") can't be written in an autostart entry";
    if (fs::create_directories(context.autostartDirectory, error); error)
        return context.autostartDirectory.string() + ": " + error.message();
    return writeReplacing(entry, *text);
}

bool isEnabled(const Context& context) {
    std::ifstream stream(entryPath(context));
    if (!stream)
        return false;
    const EntryFields fields = readEntry(stream);
    if (fields.hidden || !fields.exec)
        return false;
    const std::optional<std::string> program = execProgram(*fields.exec);
    return program && !context.executable.empty() && sameFile(*program, context.executable);
}

} // namespace LoginItem
