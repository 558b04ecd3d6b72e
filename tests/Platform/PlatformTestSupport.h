#pragma once

#include "Lumenor/Platform/LogindInhibitors.h"
#include "Support/Files.h"
#include "Support/PrivateBus.h"

#include <QCoreApplication>

/// The QCoreApplication that QtDBus and signal delivery need, unless one (or a QApplication)
/// exists already; never deleted.
inline void ensureApplication() {
    static int argc = 1;
    static char* argv[] = {const_cast<char*>("lumenor-tests"), nullptr};
    [[maybe_unused]] static auto* application = // reachable, for the leak check
        QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
}

/// The inhibitors on the lid switch that logind holds now.
inline std::vector<PowerControl::Inhibitor> lidHolders() {
    auto holders = PowerControl::listInhibitors().value();
    std::erase_if(holders,
                  [](const auto& inhibitor) { return !inhibitor.blocks("handle-lid-switch"); });
    return holders;
}

/// Lumenor's lid inhibitor as the mock logind lists it, owned by its stand-in uid and pid.
inline const std::vector<PowerControl::Inhibitor> ourLid{
    {"sleep:idle:handle-lid-switch", "Lumenor", "Lid-closed mode", "block", 1000, 123456}};

/// One bus for the whole test program, with logind played by dbusmock, started on first use;
/// none if it did not start. This process's own system bus is that one too, so tests can ask
/// logind what it holds.
inline PrivateBus* logindBus() {
    static PrivateBus* const ready = [] {
        ensureApplication();
        static auto* const bus = new PrivateBus; // a static keeps it reachable to the leak check
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus->address());
        return !bus->address().isEmpty() && bus->startMock({"--template", "logind"},
                                                           QStringLiteral("org.freedesktop.login1"))
                   ? bus
                   : nullptr;
    }();
    return ready;
}
