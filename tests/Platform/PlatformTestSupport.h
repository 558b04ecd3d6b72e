#pragma once

#include <QCoreApplication>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <string>

/// A fresh folder, removed with everything in it.
class TemporaryFolder {
public:
    std::filesystem::path path() const { return dir_.path().toStdString(); }

    /// Writes `text` to `relative`, creating the folders on the way.
    std::filesystem::path write(const std::filesystem::path& relative,
                                const std::string& text) const {
        const std::filesystem::path file = path() / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }

private:
    QTemporaryDir dir_;
};

/// The QCoreApplication that QtDBus and signal delivery need, created once per test program.
inline void ensureApplication() {
    static int argc = 1;
    static char* argv[] = {const_cast<char*>("lumenor-platform-tests"), nullptr};
    [[maybe_unused]] static auto* application = new QCoreApplication(argc, argv); // never deleted
}
