// The completions and the manual built from the command table, read by the real shells and man.

#include "Tools/lumenor/CommandTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>

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

TEST(CommandDocuments, ShellsLoadTheCompletionsAndOfferTheTablesWords) {
    const Outcome loaded = shell("bash -c 'source \"$0\" && complete -p lumenor && "
                                 "COMP_WORDS=(lumenor help rel) COMP_CWORD=2 && _lumenor && "
                                 "echo \"${COMPREPLY[*]}\" && "
                                 "COMP_WORDS=(lumenor set --lid \"\") COMP_CWORD=3 && _lumenor && "
                                 "echo \"${COMPREPLY[*]}\"' " +
                                 (share / "bash-completion/completions/lumenor").string());
    EXPECT_EQ(loaded.output, "complete -F _lumenor lumenor\nrelease\non off\n");

    if (available("zsh"))
        EXPECT_EQ(shell("zsh -n " + (share / "zsh/vendor-completions/_lumenor").string()).output,
                  "");
    if (available("fish")) {
        const auto fish = share / "fish/vendor_completions.d/lumenor.fish";
        EXPECT_EQ(shell("fish -n " + fish.string()).status, 0);
        const Outcome offered =
            shell("fish -c 'source $argv[1]; complete -C \"lumenor hol\"' " + fish.string());
        EXPECT_EQ(offered.output,
                  "hold\tkeep awake under a named hold; again with the same ID extends it\n"
                  "holds\tlist the holds: id, label, time left or process\n");
    }
}

TEST(CommandDocuments, TheManualRendersWithoutWarningsAndNamesEveryCommand) {
    const std::string page = (share / "man/man1/lumenor.1").string();
    const Outcome warnings = shell("MANWIDTH=80 man --warnings -l " + page + " >/dev/null");
    EXPECT_EQ(warnings.status, 0);
    EXPECT_EQ(warnings.output, "");
    const Outcome text = shell("MANWIDTH=80 MAN_KEEP_FORMATTING= man -l " + page + " | col -b");
    for (const CommandLine::CommandShape& command : CommandLine::commands())
        EXPECT_NE(text.output.find("\n       " + std::string(command.word)), std::string::npos)
            << command.word;
    EXPECT_NE(text.output.find("--remote-interval MINUTES"), std::string::npos);
}
