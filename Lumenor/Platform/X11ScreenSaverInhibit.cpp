// The X server's own screen saver and DPMS, for X11 desktops where no screen saver service
// takes an inhibitor: the saver is suspended on a connection of our own (the server lifts the
// suspension if that connection dies with the app) and DPMS is switched off while held, then on
// again if it was on.
#include "Lumenor/Platform/InhibitorSet.h"

#include <xcb/dpms.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

bool present(xcb_connection_t* connection, xcb_extension_t* extension) {
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(connection, extension);
    return data != nullptr && data->present != 0;
}

/// Whether DPMS is on now.
bool dpmsEnabled(xcb_connection_t* connection) {
    const std::unique_ptr<xcb_dpms_info_reply_t, decltype(&std::free)> info(
        xcb_dpms_info_reply(connection, xcb_dpms_info(connection), nullptr), &std::free);
    return info != nullptr && info->state != 0;
}

class X11ScreenSaverInhibit final : public Inhibitor {
public:
    ~X11ScreenSaverInhibit() override { disconnect(); }

    std::string name() const override { return "x11"; }

    std::optional<std::string> take(const std::string&) override {
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if (wayland != nullptr && *wayland != '\0')
            return "the X server's screen saver does not rule a Wayland desktop";
        connection_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection_) != 0) {
            disconnect();
            return "no X display to keep lit";
        }
        const bool saver = present(connection_, &xcb_screensaver_id);
        const bool dpms = present(connection_, &xcb_dpms_id);
        if (!saver && !dpms) {
            disconnect();
            return "the X server has neither a screen saver extension nor DPMS";
        }
        if (saver)
            xcb_screensaver_suspend(connection_, 1);
        restoreDpms_ = dpms && dpmsEnabled(connection_);
        if (restoreDpms_)
            xcb_dpms_disable(connection_);
        xcb_flush(connection_);
        return std::nullopt;
    }

    void give() override {
        if (connection_ == nullptr)
            return;
        if (restoreDpms_)
            xcb_dpms_enable(connection_);
        disconnect();
    }

private:
    void disconnect() {
        if (connection_ == nullptr)
            return;
        xcb_flush(connection_);
        xcb_disconnect(connection_);
        connection_ = nullptr;
    }

    xcb_connection_t* connection_ = nullptr;
    bool restoreDpms_ = false;
};

} // namespace

std::unique_ptr<Inhibitor> Inhibitors::x11ScreenSaver() {
    return std::make_unique<X11ScreenSaverInhibit>();
}
