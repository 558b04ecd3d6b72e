// The completions and the manual built from the command table, read by the real shells and man.
// shellcheck and mandoc -Tlint check the same files in the package (scripts/lint, run by make
// test).

#include "App/Processes.h"
#include "Tools/lumenor/CommandTable.h"

namespace {

const std::filesystem::path share = LUMENOR_BINARY_DIR "/share";

/// `command` run by sh, its standard output and error together in `out`.
Finished shell(const std::string& command) {
    ensureApplication();
    return run("/bin/sh", {"-c", QString::fromStdString(command + " 2>&1")},
               QProcessEnvironment::systemEnvironment());
}

bool available(const std::string& program) {
    return shell("command -v " + program + " >/dev/null").status == 0;
}

} // namespace

/// What each shell offers for a line, in a folder holding "my file.iso": its matches sorted,
/// one per line; exactly these, or at least the first when `exact` is false.
const struct {
    std::string line, offered;
    bool exact = true;
} completions[] = {
    {"lumenor hol", "hold\nholds\n"},
    {"lumenor help rel", "release\n"},
    {"lumenor on --lid ", "off\non\n"},
    {"lumenor on --color=", "always\nauto\nnever\n"},
    {"lumenor --color always st", "status\n"},
    {"lumenor on --for ", ""},
    {"lumenor on --file my", "my file.iso\n"},
    {"lumenor hold build --display --f", "--for\n"}, // no value: options follow
    {"lumenor run -- mak", "make\n", false},
    {"lumenor run --display -- ls --al", "--all\n", false},
};

/// Runs `command` with each line as its last argument, through the shell's own entry point.
void expectOffers(const std::string& command) {
    for (const auto& [line, offered, exact] : completions) {
        const std::string given = shell("d=$(mktemp -d) && cd \"$d\" && : >'my file.iso' && " +
                                        command + " '" + line + "' | sort -u; rm -r \"$d\"")
                                      .out;
        if (exact)
            EXPECT_EQ(given, offered) << line;
        else
            EXPECT_NE(("\n" + given).find("\n" + offered), std::string::npos) << line << given;
    }
}

TEST(ShellCompletion, BashThroughItsCompletionFunction) {
    const std::string script = (share / "bash-completion/completions/lumenor").string();
    // COMP_WORDS as bash splits the line (at "=" too). compopt works only while bash completes,
    // so its options are written down; "-o filenames" makes bash quote the names it inserts.
    const std::string bash =
        "bash -c 'source /usr/share/bash-completion/bash_completion; source " + script +
        "; compopt() { echo \"$*\" >>compopt; }; line=$0; "
        "read -ra COMP_WORDS <<<\"${line//=/ = }\"; [[ $line == *\" \" ]] && COMP_WORDS+=(\"\"); "
        "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}; "
        "_lumenor; printf \"%s\\n\" \"${COMPREPLY[@]}\" | grep .'";
    expectOffers(bash);
    EXPECT_EQ(shell("d=$(mktemp -d) && cd \"$d\" && " + bash +
                    " 'lumenor on --file my' >/dev/null; cat compopt; rm -r \"$d\"")
                  .out,
              "-o filenames\n");
}

TEST(ShellCompletion, ZshThroughItsCompletionSystem) {
    if (!available("zsh"))
        GTEST_SKIP() << "zsh is not installed";
    expectOffers("timeout 30 zsh -f " LUMENOR_SOURCE_DIR "/tests/Tools/complete.zsh " +
                 (share / "zsh/vendor-completions").string());
}

TEST(ShellCompletion, FishThroughCompleteC) {
    if (!available("fish"))
        GTEST_SKIP() << "fish is not installed";
    // fish offers a value after "=" with its option, as the whole word it replaces.
    expectOffers("fish -c 'source $argv[1]; complete -C $argv[2] | cut -f1 | "
                 "string replace -r -- \"^--[a-z]+=\" \"\"' " +
                 (share / "fish/vendor_completions.d/lumenor.fish").string());
}

TEST(CommandDocuments, TheManualsRenderWithoutWarningsAndNameEveryCommand) {
    const std::string page = (share / "man/man1/lumenor.1").string();
    for (const std::string& manual : {page, (share / "man/man1/lumenor-app.1").string()}) {
        const Finished warnings = shell("MANWIDTH=80 man --warnings -l " + manual + " >/dev/null");
        EXPECT_EQ(warnings.status, 0);
        EXPECT_EQ(warnings.out, "");
        const Finished text = shell("MANWIDTH=80 man -l " + manual + " | col -b");
        for (const char* section : {"\nEXIT STATUS\n", "\nENVIRONMENT\n", "\nFILES\n",
                                    "\nSEE ALSO\n", "LUMENOR_ASSUME_LID"})
            EXPECT_NE(text.out.find(section), std::string::npos) << manual << section;
        EXPECT_EQ(text.out.find('`'), std::string::npos) << manual;
    }
    const Finished text = shell("MANWIDTH=80 MAN_KEEP_FORMATTING= man -l " + page + " | col -b");
    for (const CommandLine::CommandShape& command : CommandLine::commands())
        EXPECT_NE(text.out.find("\n       " + std::string(command.word)), std::string::npos)
            << command.word;
    EXPECT_NE(text.out.find("--remote-interval MINUTES"), std::string::npos);
}
