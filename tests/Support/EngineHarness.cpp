#include "Support/EngineHarness.h"

#include <QCoreApplication>

#include <fstream>

Instant utc(int year, int month, int day, int hour, int minute, int second) {
    using namespace std::chrono;
    const sys_days date = std::chrono::year(year) / month / day;
    return Instant(date) + hours(hour) + minutes(minute) + seconds(second);
}

EngineHarness::EngineHarness(const std::optional<std::string>& settingsFile) : clock{clockStart} {
    ensureApplication();
    if (settingsFile)
        std::ofstream(settingsPath(), std::ios::binary) << *settingsFile;
    recreate();
}

void EngineHarness::recreate() {
    controller_.reset();
    controller_ = std::make_unique<WakeController>(WakeController::Environment{
        .clock = [this] { return clock.at; },
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

void EngineHarness::tickAt(Instant instant) {
    // As the app would: the timer fires at each deadline on the way (never sooner than 100 ms
    // after it last fired), and the processes that ended meanwhile are reported; then one last
    // look at the moment reached. Queued work stays queued, for the test to run.
    const auto shortestWait = std::chrono::milliseconds(100);
    for (int guard = 0; guard < 100000; ++guard) {
        const auto next = controller_->nextDeadline();
        if (!next)
            break;
        const Instant fire =
            std::max(*next, clock.now() + (guard == 0 ? Instant::duration() : shortestWait));
        if (fire > instant)
            break;
        clock.at = fire;
        workspace->endProcesses();
        controller_->update();
    }
    clock.at = std::max(clock.at, instant);
    workspace->endProcesses();
    controller_->update();
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
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

Words EngineHarness::logLines(bool timestamps) const {
    Words lines;
    std::ifstream in(logFile);
    for (std::string line; std::getline(in, line);)
        lines.push_back(timestamps ? line : line.substr(line.find(' ') + 1));
    return lines;
}
