#pragma once

#include "LumenorCore/Instant.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>

/// What a keep-awake session is bound to.
struct SessionKind {
    /// Keep awake until this instant.
    struct Until {
        Instant end;
        bool operator==(const Until&) const = default;
    };
    /// Keep awake while this application runs; `name` is its display name.
    struct App {
        int32_t pid = 0;
        std::string name;
        bool operator==(const App& other) const;
    };
    /// Keep awake while this process runs; `label` may be empty.
    struct Process {
        int32_t pid = 0;
        std::string label;
        bool operator==(const Process& other) const;
    };
    /// Keep awake while this file (or folder) is still growing.
    struct File {
        std::filesystem::path path;
        bool operator==(const File&) const = default;
        /// The last path component, trailing separators ignored.
        std::string lastPathComponent() const;
    };
    /// Keep awake until told to stop.
    struct Indefinite {
        bool operator==(const Indefinite&) const = default;
    };

    std::variant<Until, App, Process, File, Indefinite> value = Indefinite{};

    static SessionKind until(Instant end) { return {Until{end}}; }
    static SessionKind app(int32_t pid, std::string name) { return {App{pid, std::move(name)}}; }
    static SessionKind process(int32_t pid, std::string label) {
        return {Process{pid, std::move(label)}};
    }
    static SessionKind file(std::filesystem::path path) { return {File{std::move(path)}}; }
    static SessionKind indefinite() { return {Indefinite{}}; }

    /// The payload when the kind is `T`, else null.
    template <class T> const T* as() const { return std::get_if<T>(&value); }
    template <class T> bool is() const { return std::holds_alternative<T>(value); }

    /// The end instant of an `until` kind; none for every other kind.
    std::optional<Instant> endsAt() const;

    bool operator==(const SessionKind&) const = default;
};

/// The running keep-awake session.
struct KeepAwakeSession {
    SessionKind kind;
    Instant startedAt;

    /// The one-line name shown everywhere, with "today" judged by the wall clock.
    std::string title() const;
    /// The same, with "today" being the local calendar day of `now`.
    std::string title(Instant now) const;

    bool operator==(const KeepAwakeSession&) const = default;
};

/// A requested sleep that has not happened yet.
struct PendingSleep {
    Instant notBefore;
    /// When set, the sleep also waits until this process has exited.
    std::optional<int32_t> waitForPid;
    /// Asked for "now": holds do not delay it.
    bool force = false;
    /// Who asked, for the log line.
    std::string requestedBy;

    bool operator==(const PendingSleep&) const = default;
};
