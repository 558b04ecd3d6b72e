// The completions and the manual built from the command table, read by the real shells and man.

#include "Tools/lumenor/CommandTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::filesystem::path share = LUMENOR_BINARY_DIR "/share";

struct Outcome {
    int status = -1;
    std::string output; // standard output and error together
};

Outcome shell(const std::string& command) {
    Outcome outcome;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return outcome;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        outcome.output.append(buffer, n);
    const int status = ::pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

bool available(const std::string& program) {
    return shell("command -v " + program + " >/dev/null").status == 0;
}

} // namespace

/// What each shell offers for a command line: its matches, sorted, one per line. Each shell is
/// asked through its own completion entry point, in a folder holding "my file.iso".
struct Completion {
    std::string line;
    std::string offered; // exactly, or at least this one match when `exact` is false
    bool exact = true;
};

const Completion completions[] = {
    {"lumenor hol", "hold\nholds\n"},
    {"lumenor help rel", "release\n"},
    {"lumenor on --lid ", "off\non\n"},
    {"lumenor set --lid ", "off\non\n"},
    {"lumenor on --color=", "always\nauto\nnever\n"},
    {"lumenor --color always st", "status\n"},
    {"lumenor on --for ", ""},
    {"lumenor on --app ", ""},
    {"lumenor hold build --display --f", "--for\n"}, // no value: options follow
    {"lumenor run -- mak", "make\n", false},
    {"lumenor run --display -- ls --al", "--all\n", false},
};

class ShellCompletion : public testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("lumenor-completion-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "my file.iso").put('\n');
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    /// `command` run in the folder with the line as $1, its output sorted and without repeats.
    std::string offered(const std::string& command, const std::string& line) {
        return shell("cd '" + folder.string() + "' && " + command + " '" + line + "' | sort -u")
            .output;
    }

    void expectAll(const std::string& command) {
        for (const Completion& completion : completions) {
            const std::string given = offered(command, completion.line);
            if (completion.exact)
                EXPECT_EQ(given, completion.offered) << completion.line;
            else
                EXPECT_NE(("\n" + given).find("\n" + completion.offered), std::string::npos)
                    << completion.line << ":\n"
                    << given;
        }
    }

    std::filesystem::path folder;
};

TEST_F(ShellCompletion, BashThroughItsCompletionFunction) {
    const auto script = share / "bash-completion/completions/lumenor";
    EXPECT_EQ(shell("shellcheck --shell=bash " + script.string()).output, "");
    // COMP_WORDS as bash splits the line (at "=" too). compopt works only while bash completes,
    // so it is recorded instead: "-o filenames" makes bash quote the names it inserts.
    expectAll(
        "bash -c 'source /usr/share/bash-completion/bash_completion; source \"$0\"; "
        "compopt() { :; }; line=$1; "
        "read -ra COMP_WORDS <<<\"${line//=/ = }\"; [[ $line == *\" \" ]] && COMP_WORDS+=(\"\"); "
        "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}; "
        "_lumenor 2>/dev/null; (( ${#COMPREPLY[@]} )) && printf \"%s\\n\" \"${COMPREPLY[@]}\"' " +
        script.string());
    // One name with its space, which bash quotes on insertion as it quotes file names.
    EXPECT_EQ(offered("bash -c 'source \"$0\"; compopt() { echo \"($*)\"; }; "
                      "COMP_WORDS=(lumenor on --file my) COMP_CWORD=3; _lumenor; "
                      "printf \"%s\\n\" \"${COMPREPLY[@]}\"' " +
                          script.string(),
                      ""),
              "(-o filenames)\nmy file.iso\n");
}

TEST_F(ShellCompletion, ZshThroughItsCompletionSystem) {
    if (!available("zsh"))
        GTEST_SKIP() << "zsh is not installed";
    const std::string zsh = "timeout 30 zsh -f " + std::string(LUMENOR_SOURCE_DIR) +
                            "/tests/Tools/complete.zsh " +
                            (share / "zsh/vendor-completions").string();
    expectAll(zsh);
    EXPECT_EQ(offered(zsh, "lumenor on --file my"), "my\\ file.iso\n");
}

TEST_F(ShellCompletion, FishThroughCompleteC) {
    if (!available("fish"))
        GTEST_SKIP() << "fish is not installed";
    // fish offers a value after "=" with its option, as the whole word it replaces.
    const std::string fish = "fish -c 'source $argv[1]; complete -C $argv[2] | cut -f1 | "
                             "string replace -r -- \"^--[a-z]+=\" \"\"' " +
                             (share / "fish/vendor_completions.d/lumenor.fish").string();
    expectAll(fish);
    EXPECT_EQ(offered(fish, "lumenor on --file my"), "my file.iso\n");
}

TEST(CommandDocuments, TheManualsRenderWithoutWarningsAndNameEveryCommand) {
    const std::string page = (share / "man/man1/lumenor.1").string();
    for (const std::string& manual : {page, (share / "man/man1/lumenor-app.1").string()}) {
        const Outcome warnings = shell("MANWIDTH=80 man --warnings -l " + manual + " >/dev/null");
        EXPECT_EQ(warnings.status, 0);
        EXPECT_EQ(warnings.output, "");
        if (available("mandoc"))
            EXPECT_EQ(shell("mandoc -Tlint " + manual).output, "");
        const Outcome text = shell("MANWIDTH=80 man -l " + manual + " | col -b");
        for (const char* section : {"\nENVIRONMENT\n", "\nFILES\n", "\nSEE ALSO\n", "LUMENOR_HOME"})
            EXPECT_NE(text.output.find(section), std::string::npos) << manual << section;
        EXPECT_EQ(text.output.find('`'), std::string::npos) << manual;
    }
    const Outcome text = shell("MANWIDTH=80 MAN_KEEP_FORMATTING= man -l " + page + " | col -b");
    for (const CommandLine::CommandShape& command : CommandLine::commands())
        EXPECT_NE(text.output.find("\n       " + std::string(command.word)), std::string::npos)
            << command.word;
    EXPECT_NE(text.output.find("--remote-interval MINUTES"), std::string::npos);
    EXPECT_NE(text.output.find("\nEXIT STATUS\n"), std::string::npos);
}
