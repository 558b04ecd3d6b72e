#include "Lumenor/Platform/InhibitorSet.h"

#include "Lumenor/Platform/DBusCall.h"

#include <atomic>

namespace {

/// Ids only need to be non-zero and distinct; the parts keep the system's own handles.
uint32_t nextId() {
    static std::atomic<uint32_t> counter{0};
    uint32_t id = ++counter;
    while (id == 0) {
        id = ++counter;
    }
    return id;
}

} // namespace

InhibitorSet::InhibitorSet(std::string type, std::string reason,
                           std::vector<std::unique_ptr<Inhibitor>> parts)
    : Assertion(std::move(type), std::move(reason)), parts_(std::move(parts)),
      held_(parts_.size(), false) {}

std::vector<std::string> InhibitorSet::heldBy() const {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        if (held_[i] && parts_[i]->holds()) {
            names.push_back(parts_[i]->name());
        }
    }
    return names;
}

uint32_t InhibitorSet::acquire() {
    std::optional<std::string> first;
    bool any = false;
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        const auto refused = parts_[i]->take(reason());
        held_[i] = !refused;
        any = any || held_[i];
        if (refused && !first) {
            first = refused;
        }
    }
    failure_ = any ? std::string() : first.value_or(std::string());
    return any ? nextId() : 0;
}

void InhibitorSet::release(uint32_t) {
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        if (held_[i]) {
            parts_[i]->give();
            held_[i] = false;
        }
    }
}

void InhibitorSet::reasonChanged() {
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        if (held_[i]) {
            parts_[i]->rename(reason());
        }
    }
}

namespace Inhibitors {

std::string describe(const QString& what, const std::string& missing, const QDBusMessage& reply) {
    if (DBusCall::isMissingService(reply)) {
        return missing;
    }
    return what.toStdString() + " refused: " + DBusCall::errorText(reply).toStdString();
}

std::string describeLogind(const QDBusMessage& reply) {
    // logind answers so when polkit said no, or when polkit could not be asked at all.
    const QString name = reply.errorName();
    if (name == QStringLiteral("org.freedesktop.DBus.Error.AccessDenied") ||
        name == QStringLiteral("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired")) {
        return PowerControl::authorizationRefused +
               " it (logind: " + DBusCall::errorText(reply).toStdString() + ")";
    }
    return describe(QStringLiteral("logind"), "no login manager (logind) on the system bus", reply);
}

} // namespace Inhibitors
