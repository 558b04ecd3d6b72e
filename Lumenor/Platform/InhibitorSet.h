#pragma once

#include "Lumenor/Platform/PowerControl.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QDBusMessage;
class QString;

/// One way of keeping the machine or its display awake, taken and given back as a whole.
class Inhibitor {
public:
    virtual ~Inhibitor() = default;
    /// The name the status lists: "logind", "portal", "power-manager", "screensaver" or "x11".
    virtual std::string name() const = 0;
    /// Takes the inhibitor for `reason`: none on success, else why not, in words for people.
    virtual std::optional<std::string> take(const std::string& reason) = 0;
    /// Gives back what the last successful take got.
    virtual void give() = 0;
    /// While held: holds on for `reason` instead, never unheld on the way; nothing by default.
    virtual void rename(const std::string& reason) { (void)reason; }
    /// Whether what the last successful take got still holds: a grant can be withdrawn later.
    virtual bool holds() const { return true; }
};

/// An assertion held by every part that can be taken, and held while at least one is; the
/// parts are taken and given back together. Its failure is the first part's, the one that
/// matters most when nothing could be held.
class InhibitorSet final : public PowerControl::Assertion {
public:
    InhibitorSet(std::string type, std::string reason,
                 std::vector<std::unique_ptr<Inhibitor>> parts);

    std::vector<std::string> heldBy() const override;
    std::string failure() const override { return failure_; }

protected:
    uint32_t acquire() override;
    void release(uint32_t id) override;
    void reasonChanged() override;

private:
    std::vector<std::unique_ptr<Inhibitor>> parts_;
    std::vector<bool> held_;
    std::string failure_;
};

/// The mechanisms, one file each.
namespace Inhibitors {

/// The desktop portal's flags: the machine's suspend and the session's idle.
enum PortalFlag : uint32_t { suspend = 4, idle = 8 };

/// logind's "sleep:idle" block inhibitor on the system bus, held through its descriptor.
std::unique_ptr<Inhibitor> logind();
/// Takes a logind block inhibitor on `what` ("sleep:idle", …) as "Lumenor" for `why`: its
/// descriptor, ours alone (closing it gives the inhibitor back), or -1 with `failure` saying why.
int logindDescriptor(const QString& what, const std::string& why, std::string& failure);
/// Closes a descriptor from logindDescriptor and returns once logind no longer lists it (half a
/// second at most).
void closeLogindDescriptor(int fd, const QString& what, const std::string& why);
/// org.freedesktop.portal.Inhibit with `flags`, where xdg-desktop-portal runs.
std::unique_ptr<Inhibitor> portal(uint32_t flags);
/// org.freedesktop.PowerManagement.Inhibit, where a power manager offers it.
std::unique_ptr<Inhibitor> powerManagement();
/// org.freedesktop.ScreenSaver.Inhibit, for the display.
std::unique_ptr<Inhibitor> screenSaver();
/// The X server's screen saver suspended and DPMS off, for the display on X11.
std::unique_ptr<Inhibitor> x11ScreenSaver();

/// Why a take failed: `missing` for a service that is not on its bus, else
/// "<what> refused: <the error's text>".
std::string describe(const QString& what, const std::string& missing, const QDBusMessage& reply);
/// Why a call to logind failed: missing, refused by polkit (PowerControl::authorizationRefused),
/// or logind's own error.
std::string describeLogind(const QDBusMessage& reply);

} // namespace Inhibitors
