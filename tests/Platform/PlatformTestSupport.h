#pragma once

#include "Lumenor/Platform/LogindInhibitors.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

/// Writes `text` to `file`, creating the folders on the way.
inline std::filesystem::path writeFile(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
    return file;
}

/// The whole of `file`, or nothing if it cannot be read.
inline std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

/// A fresh folder, removed with everything in it.
class TemporaryFolder {
public:
    std::filesystem::path path() const { return dir_.path().toStdString(); }

    std::filesystem::path write(const std::filesystem::path& relative,
                                const std::string& text) const {
        return writeFile(path() / relative, text);
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
