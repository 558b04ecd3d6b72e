// Asks logind which programs hold inhibitors, so that people can see what else keeps the machine
// up or handles the lid.
#include "Lumenor/Platform/LogindInhibitors.h"

#include "Lumenor/Platform/DBusCall.h"

#include <QDBusArgument>

#include <pwd.h>
#include <string_view>
#include <unistd.h>

namespace PowerControl {

bool Inhibitor::blocks(const std::string& kind) const {
    std::string_view rest = what;
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        if (rest.substr(0, colon) == kind) {
            return true;
        }
        rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
    }
    return false;
}

std::optional<std::vector<Inhibitor>> listInhibitors() {
    const QDBusMessage reply =
        DBusCall::call(DBusCall::systemBus(), DBusCall::logindService, DBusCall::logindPath,
                       DBusCall::logindManager, QStringLiteral("ListInhibitors"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty() ||
        reply.signature() != QStringLiteral("a(ssssuu)")) {
        return std::nullopt;
    }
    const auto list = reply.arguments().constFirst().value<QDBusArgument>();
    std::vector<Inhibitor> inhibitors;
    list.beginArray();
    while (!list.atEnd()) {
        QString what, who, why, mode;
        uint32_t uid = 0, pid = 0;
        list.beginStructure();
        list >> what >> who >> why >> mode >> uid >> pid;
        list.endStructure();
        inhibitors.push_back({what.toStdString(), who.toStdString(), why.toStdString(),
                              mode.toStdString(), uid, pid});
    }
    list.endArray();
    return inhibitors;
}

std::string userName(uint32_t uid) {
    std::string buffer(16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
    return found != nullptr ? std::string(found->pw_name) : std::string();
}

} // namespace PowerControl
