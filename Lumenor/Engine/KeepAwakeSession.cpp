#include "Lumenor/Engine/KeepAwakeSession.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QString>

#include <chrono>

namespace {

// Names typed on different systems may differ only in their Unicode composition.
bool sameText(const std::string& a, const std::string& b) {
    if (a == b) {
        return true;
    }
    return QString::fromStdString(a).normalized(QString::NormalizationForm_C) ==
           QString::fromStdString(b).normalized(QString::NormalizationForm_C);
}

QDateTime localDateTime(Instant instant) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(instant.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms);
}

// A locale's short format, without the seconds that some (C among them) put in it: a clock
// time a person reads at a glance has hours and minutes, in the locale's 12- or 24-hour style.
QString withoutSeconds(QString format) {
    static const QRegularExpression seconds(QStringLiteral("[:.]?ss?(\\.z+)?"));
    return format.remove(seconds);
}

std::string untilTitle(Instant end, Instant now) {
    const QLocale locale;
    const QDateTime at = localDateTime(end);
    const QString text =
        at.date() == localDateTime(now).date()
            ? locale.toString(at.time(), withoutSeconds(locale.timeFormat(QLocale::ShortFormat)))
            : locale.toString(at, withoutSeconds(locale.dateTimeFormat(QLocale::ShortFormat)));
    return "Until " + text.toStdString();
}

} // namespace

bool SessionKind::App::operator==(const App& other) const {
    return pid == other.pid && sameText(name, other.name);
}

bool SessionKind::Process::operator==(const Process& other) const {
    return pid == other.pid && sameText(label, other.label);
}

std::string SessionKind::File::lastPathComponent() const {
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return std::filesystem::path(text).filename().string();
}

std::optional<Instant> SessionKind::endsAt() const {
    if (const auto* until = as<Until>()) {
        return until->end;
    }
    return std::nullopt;
}

std::string KeepAwakeSession::title() const {
    return title(std::chrono::system_clock::now());
}

std::string KeepAwakeSession::title(Instant now) const {
    if (const auto* until = kind.as<SessionKind::Until>()) {
        return untilTitle(until->end, now);
    }
    if (const auto* app = kind.as<SessionKind::App>()) {
        return "While " + app->name + " is running";
    }
    if (const auto* process = kind.as<SessionKind::Process>()) {
        const std::string what =
            process->label.empty() ? "process " + std::to_string(process->pid) : process->label;
        return "While " + what + " runs";
    }
    if (const auto* file = kind.as<SessionKind::File>()) {
        return "While " + file->lastPathComponent() + " downloads";
    }
    return "Indefinitely";
}
