#include "Support/EngineHarness.h"

#include <QCoreApplication>

#include <fstream>

void ensureQtApplication() {
    if (QCoreApplication::instance() != nullptr) {
        return;
    }
    static int argc = 1;
    static char name[] = "lumenor-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

Instant utc(int year, int month, int day, int hour, int minute, int second) {
    using namespace std::chrono;
    const sys_days date = std::chrono::year(year) / month / day;
    return Instant(date) + hours(hour) + minutes(minute) + seconds(second);
}

EngineHarness::EngineHarness(Options options) : clock(options.start) {
    ensureQtApplication();
    if (options.settingsFile) {
        std::ofstream(settingsPath(), std::ios::binary) << *options.settingsFile;
    }
    recreate();
}

void EngineHarness::recreate() {
    controller_.reset();
    controller_ = std::make_unique<WakeController>(WakeController::Environment{
        .clock = clock.function(),
        .power = power,
        .workspace = workspace,
        .settings = std::shared_ptr<QSettings>(reopenSettings()),
        .logFile = logFile,
        .stateFile = stateFile,
        .mainThread = mainThread,
        .privileged = privileged,
        .background = background,
    });
}

void EngineHarness::tickAfter(double seconds) {
    clock.advance(seconds);
    controller_->tick();
}

void EngineHarness::tickAt(Instant instant) {
    clock.set(instant);
    controller_->tick();
}

void EngineHarness::readyHelper() {
    power->setHelperInstalled(true);
    power->setHelperWorks(true);
    controller_->refreshHelper();
    settle();
}

void EngineHarness::settle() {
    while (privileged->runAll() + mainThread->runAll() > 0) {
    }
}

std::vector<std::string> EngineHarness::logLines() const {
    std::vector<std::string> lines;
    std::ifstream in(logFile);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> EngineHarness::logMessages() const {
    std::vector<std::string> messages;
    for (const auto& line : logLines()) {
        messages.push_back(line.substr(line.find(' ') + 1));
    }
    return messages;
}
