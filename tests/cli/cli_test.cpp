// Runs the built velmora-convert as a user or a script would and checks what it
// writes, what it says and how it exits.

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <pty.h>
#include <unistd.h>
#include <sys/wait.h>

namespace velmora {
namespace {

constexpr const char* kDocument = "<dl><dt>Title</dt><dd>Value</dd></dl>";
constexpr const char* kConverted = "\r\n  Title\r\n    Value";
constexpr const char* kZoak = "<!-- ZOAK metadata report generated --><dl><dt>A</dt></dl>";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Appends `word` to a shell command line, quoted, after a space.
void AppendWord(std::string& command, const std::string& word) {
    command += " '";
    for (const char c : word) {
        if (c == '\'') {
            command += "'\\''";
        } else {
            command += c;
        }
    }
    command += '\'';
}

class Cli : public testing::Test {
protected:
    // Runs the converter in the test folder with `args`, feeding `input` on stdin.
    Outcome Convert(const std::vector<std::string>& args, const std::string& input = "") {
        test::WriteBytes(m_io.File("stdin"), input);
        std::string command = "cd";
        AppendWord(command, m_dir.Path());
        command += " &&";
        AppendWord(command, VELMORA_CONVERT);
        for (const std::string& arg : args) {
            AppendWord(command, arg);
        }
        command += " <";
        AppendWord(command, m_io.File("stdin"));
        command += " >";
        AppendWord(command, m_io.File("stdout"));
        command += " 2>";
        AppendWord(command, m_io.File("stderr"));
        const int raw = std::system(command.c_str());
        Outcome run;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = test::ReadBytes(m_io.File("stdout"));
        run.err = test::ReadBytes(m_io.File("stderr"));
        return run;
    }
    void Put(const std::string& name, const std::string& bytes) {
        test::WriteBytes(m_dir.File(name), bytes);
    }
    std::string Get(const std::string& name) { return test::ReadBytes(m_dir.File(name)); }
    std::vector<std::string> Entries() { return m_dir.Entries(); }
    const std::string& Dir() const { return m_dir.Path(); }

private:
    test::TempDir m_dir;
    test::TempDir m_io;
};

TEST_F(Cli, WritesBesideTheInputWithTheTxtExtension) {
    Put("report.HTML", kDocument);
    const Outcome run = Convert({"report.HTML"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Get("report.txt"), kConverted);
}

TEST_F(Cli, OptionsStandAnywhereAndDoubleDashEndsThem) {
    Put("-dash.html", kDocument);
    const Outcome run = Convert({"--", "-dash.html"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Get("-dash.txt"), kConverted);

    Put("in.html", kDocument);
    const Outcome after = Convert({"in.html", "-o", "named.out", "-j1"});
    EXPECT_EQ(after.status, 0) << after.err;
    EXPECT_EQ(Get("named.out"), kConverted);
}

TEST_F(Cli, StandardInputAndOutput) {
    const Outcome piped = Convert({"-"}, kDocument);
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, kConverted);

    Put("in.html", kDocument);
    const Outcome toStdout = Convert({"-o", "-", "in.html"});
    EXPECT_EQ(toStdout.status, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out, kConverted);

    const Outcome toFile = Convert({"-", "--output=from-stdin.txt"}, kDocument);
    EXPECT_EQ(toFile.status, 0) << toFile.err;
    EXPECT_EQ(Get("from-stdin.txt"), kConverted);
}

TEST_F(Cli, SeveralInputsInParallel) {
    std::vector<std::string> args{"--jobs", "2"};
    for (int i = 0; i < 6; ++i) {
        Put("doc" + std::to_string(i) + ".htm", kDocument);
        args.push_back("doc" + std::to_string(i) + ".htm");
    }
    const Outcome run = Convert(args);
    EXPECT_EQ(run.status, 0) << run.err;
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(Get("doc" + std::to_string(i) + ".txt"), kConverted);
    }
}

TEST_F(Cli, RefusedAndEmptyInputsAreToldApart) {
    Put("zoak.html", kZoak);
    Put("empty.html", "");
    Put("good.html", kDocument);

    const Outcome refused = Convert({"zoak.html", "good.html"});
    EXPECT_EQ(refused.status, 3);
    EXPECT_EQ(refused.err,
              "velmora-convert: zoak.html: ZOAK Metadata Generated HTML Reports Not Supported\n");
    EXPECT_EQ(Get("good.txt"), kConverted);

    const Outcome empty = Convert({"empty.html"});
    EXPECT_EQ(empty.status, 4);
    EXPECT_EQ(empty.err, "velmora-convert: empty.html: the input is empty; nothing was written\n");

    const Outcome both = Convert({"empty.html", "zoak.html", "-j", "1"});
    EXPECT_EQ(both.status, 3);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"empty.html", "good.html", "good.txt",
                                                   "zoak.html"}));
}

TEST_F(Cli, FailuresNameThePathAndOutweighTheRest) {
    Put("zoak.html", kZoak);
    Put("good.html", kDocument);
    const Outcome run = Convert({"-j1", "missing.html", "zoak.html", "good.html"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("velmora-convert: cannot read \"missing.html\": No such file or "
                           "directory\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(Get("good.txt"), kConverted);

    const Outcome folder = Convert({"good.html", "-o", "no/such/folder/out.txt"});
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(folder.err, "velmora-convert: cannot write \"no/such/folder/out.txt\": No such "
                          "file or directory\n");
}

TEST_F(Cli, WillNotProposeTheInputItselfAsOutput) {
    Put("notes.txt", kDocument);
    const Outcome run = Convert({"notes.txt"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("notes.txt"), std::string::npos);
    EXPECT_EQ(Get("notes.txt"), kDocument);

    const Outcome named = Convert({"notes.txt", "-o", "notes.txt"});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(Get("notes.txt"), kConverted);
}

TEST_F(Cli, UsageErrorsExitWithTwo) {
    Put("a.html", kDocument);
    Put("b.html", kDocument);
    const std::vector<std::vector<std::string>> mistakes{
        {},
        {"-o", "out.txt", "a.html", "b.html"},
        {"-j", "0", "a.html"},
        {"-j", "many", "a.html"},
        {"--frobnicate", "a.html"},
        {"a.html", "-o"},
        {"-", "-"},
    };
    for (const auto& args : mistakes) {
        const Outcome run = Convert(args);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find("Try 'velmora-convert --help'"), std::string::npos) << run.err;
    }
    EXPECT_EQ(Entries(), (std::vector<std::string>{"a.html", "b.html"}));
}

// On a terminal, several inputs get a count that rewrites its own line; the messages
// still stand on lines of their own.
TEST_F(Cli, CountsInputsOnATerminal) {
    Put("a.html", kDocument);
    Put("b.html", "");
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(Dir().c_str()) == 0) {
            execl(VELMORA_CONVERT, VELMORA_CONVERT, "-j1", "a.html", "b.html", nullptr);
        }
        _exit(127);
    }
    std::string screen;
    char buffer[256];
    for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) > 0;) {
        screen.append(buffer, static_cast<std::size_t>(got));
    }
    close(terminal);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 4);
    EXPECT_NE(screen.find("\r1 of 2 inputs done"), std::string::npos) << screen;
    EXPECT_NE(screen.find("\r2 of 2 inputs done"), std::string::npos) << screen;
    EXPECT_NE(screen.find("\r\033[Kvelmora-convert: b.html: the input is empty"),
              std::string::npos)
        << screen;
    // The count is wiped at the end, so the shell prompt starts on a clean line.
    EXPECT_EQ(screen.substr(screen.size() - 4), "\r\033[K");
}

TEST_F(Cli, HelpAndVersion) {
    const Outcome help = Convert({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Exit status:"), std::string::npos);
    const Outcome version = Convert({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "velmora-convert 1.0\n");
}

} // namespace
} // namespace velmora
