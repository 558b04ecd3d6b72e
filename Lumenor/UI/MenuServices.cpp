#include "Lumenor/UI/MenuServices.h"

#include "Lumenor/Engine/WakeController.h"
#include "Lumenor/UI/AgentAccess.h"
#include "Lumenor/UI/LoginItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

/// A file dialog that also takes a folder: Open with a folder selected chooses the folder,
/// while a double-click still enters it. Qt's own dialog, because the desktop's dialogs
/// choose files or folders, never either.
class DownloadDialog : public QFileDialog {
public:
    DownloadDialog() {
        setWindowTitle(QStringLiteral("Keep awake while this downloads"));
        setFileMode(QFileDialog::ExistingFile);
        setOption(QFileDialog::DontUseNativeDialog);
        setOption(QFileDialog::DontResolveSymlinks);
        // The XDG download folder; the home folder when it does not exist, never wherever
        // the app happened to be started.
        const QString downloads =
            QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        setDirectory(!downloads.isEmpty() && QFileInfo(downloads).isDir() ? downloads
                                                                          : QDir::homePath());
    }

    void accept() override {
        const QStringList chosen = selectedFiles();
        if (chosen.size() == 1 && QFileInfo(chosen.first()).isDir() &&
            QDir(chosen.first()) != directory()) {
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }
};

std::optional<std::filesystem::path> askForDownload() {
    DownloadDialog dialog;
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(dialog.selectedFiles().first().toStdString());
}

} // namespace

MenuServices MenuServices::system() {
    return {
        .loginItemEnabled = [] { return LoginItem::isEnabled(); },
        .setLoginItem = [](bool enabled) { return LoginItem::set(enabled); },
        .agentAccessInstalled = [] { return AgentAccess::isInstalled(); },
        .installAgentAccess = []() -> std::optional<std::string> {
            const AgentAccess::Context context = AgentAccess::Context::current();
            if (auto failure = AgentAccess::install(context))
                return failure;
            // Installed, yet a shell would not find the command: worth saying.
            return AgentAccess::pathAdvice(context, qEnvironmentVariable("PATH").toStdString());
        },
        .removeAgentAccess = [] { return AgentAccess::remove(); },
        .chooseDownload = askForDownload,
        // A deliberate quit ends the session, so it does not come back on the next start.
        .quit =
            [] {
                WakeController::shared().endSession("quit");
                QCoreApplication::quit();
            },
    };
}

MenuServices MenuServices::inert() {
    return {
        .loginItemEnabled = [] { return false; },
        .setLoginItem = [](bool) -> std::optional<std::string> { return std::nullopt; },
        .agentAccessInstalled = [] { return false; },
        .installAgentAccess = []() -> std::optional<std::string> { return std::nullopt; },
        .removeAgentAccess = []() -> std::optional<std::string> { return std::nullopt; },
        .chooseDownload = []() -> std::optional<std::filesystem::path> { return std::nullopt; },
        .quit = [] {},
    };
}
