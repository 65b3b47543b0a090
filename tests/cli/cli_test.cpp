// Runs the built velmora-convert as a user or a script would and checks what it
// writes, what it says and how it exits.

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace velmora {
namespace {

constexpr const char* kDocument = "<dl><dt>Title</dt><dd>Value</dd></dl>";
constexpr const char* kConverted = "\r\n  Title\r\n    Value";
constexpr const char* kZoak = "<!-- ZOAK metadata report generated --><dl><dt>A</dt></dl>";

// How a run differs from a plain one.
struct Setting {
    std::vector<std::string> wrapper;     // programs in front of the converter (prlimit, sh)
    std::vector<std::string> environment; // "NAME=value" added to what it gets
    std::string stdoutTo; // a file of the test folder instead of the captured output
    bool closeStderr = false;
    bool closeStdin = false;
    bool closeStdout = false;
    bool typed = false; // the arguments as typed on a Windows command line, quotes and all
};

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class Cli : public testing::Test {
protected:
    // Runs the converter in the test folder with `args`, feeding `input` on stdin.
    Outcome Convert(const std::vector<std::string>& args, const std::string& input = "",
                    const Setting& setting = {}) {
        test::WriteBytes(m_io.File("stdin"), input);
        std::vector<std::string> words = setting.wrapper;
        words.push_back(VELMORA_CONVERT);
        words.insert(words.end(), args.begin(), args.end());
        const test::Streams io{
            m_io.File("stdin"),
            setting.stdoutTo.empty() ? m_io.File("stdout") : m_dir.File(setting.stdoutTo),
            m_io.File("stderr"),
            setting.closeStderr,
            setting.closeStdin,
            setting.closeStdout};
        Outcome run;
        run.status = test::Launch(words, m_dir.Path(), io, setting.environment, setting.typed);
        run.out = setting.stdoutTo.empty() ? test::ReadBytes(m_io.File("stdout")) : "";
        run.err = test::ReadBytes(m_io.File("stderr"));
        return run;
    }
    void Put(const std::string& name, const std::string& bytes) {
        test::WriteBytes(m_dir.File(name), bytes);
    }
    std::string Get(const std::string& name) { return test::ReadBytes(m_dir.File(name)); }
    bool Exists(const std::string& name) {
        return std::filesystem::exists(test::NativePath(m_dir.File(name)));
    }
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
    EXPECT_EQ(
        refused.err,
        "velmora-convert: \"zoak.html\": ZOAK Metadata Generated HTML Reports Not Supported\n");
    EXPECT_EQ(Get("good.txt"), kConverted);

    const Outcome empty = Convert({"empty.html"});
    EXPECT_EQ(empty.status, 4);
    EXPECT_EQ(empty.err,
              "velmora-convert: \"empty.html\": the input is empty; nothing was written\n");

    const Outcome both = Convert({"empty.html", "zoak.html", "-j", "1"});
    EXPECT_EQ(both.status, 3);
    EXPECT_EQ(Entries(),
              (std::vector<std::string>{"empty.html", "good.html", "good.txt", "zoak.html"}));
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
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("notes.txt"), std::string::npos);
    EXPECT_EQ(Get("notes.txt"), kDocument);

    const Outcome named = Convert({"notes.txt", "-o", "notes.txt"});
    EXPECT_EQ(named.status, 2) << named.err;
    EXPECT_EQ(Get("notes.txt"), kDocument);
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
        {"-j", " 2", "a.html"}, // a count is digits alone
        {"-j", "+2", "a.html"},
    };
    for (const auto& args : mistakes) {
        const Outcome run = Convert(args);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find("Try 'velmora-convert --help'"), std::string::npos) << run.err;
    }
    EXPECT_EQ(Entries(), (std::vector<std::string>{"a.html", "b.html"}));
}

// On a terminal, several inputs get a count that rewrites its own line; the messages
// still stand on lines of their own. A dumb terminal gets no escape sequence: the count
// is written over with spaces.
TEST_F(Cli, CountsInputsOnATerminal) {
#ifdef _WIN32
    GTEST_SKIP() << "needs a pseudo-terminal (forkpty); a console is tried by console_test.sh";
#else
    for (const char* term : {"xterm", "dumb"}) {
        SCOPED_TRACE(term);
        const bool dumb = std::string_view(term) == "dumb";
        const std::string clear = dumb ? "\r" + std::string(19, ' ') + "\r" : "\r\033[K";
        Put("a.html", kDocument);
        Put("b.html", "");
        int terminal = -1;
        const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (chdir(Dir().c_str()) == 0 && setenv("TERM", term, 1) == 0) {
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
        EXPECT_NE(screen.find(clear + "velmora-convert: \"b.html\": the input is empty"),
                  std::string::npos)
            << screen;
        // The count is wiped at the end, so the shell prompt starts on a clean line.
        EXPECT_EQ(screen.substr(screen.size() - clear.size()), clear);
        EXPECT_EQ(dumb, screen.find('\033') == std::string::npos) << screen;
    }
#endif
}

struct CommandCase {
    const char* name;
    void (*setup)(const std::filesystem::path& folder); // run first, when there is one
    std::vector<std::string> args;
    Setting setting;
    int status;
    std::string message;                                    // part of standard error
    std::vector<std::pair<std::string, std::string>> files; // written as given
    std::vector<std::string> absent;
    bool needsRoot = false;
    const char* posixOnly = nullptr; // why the row cannot run on Windows
    std::string input = {};          // on standard input
    const char* out = nullptr;       // what standard output must hold, where the row says
    friend void PrintTo(const CommandCase& row, std::ostream* os) { *os << row.name; }
};

class CommandLine : public Cli, public testing::WithParamInterface<CommandCase> {};

TEST_P(CommandLine, DoesWhatTheRowSays) {
    const CommandCase& row = GetParam();
#ifdef _WIN32
    if (row.posixOnly != nullptr) {
        GTEST_SKIP() << row.posixOnly;
    }
#else
    if (row.needsRoot && geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as another user or to make device nodes";
    }
#endif
    for (const char* name : {"a.html", "a.htm", "b.html", "README", ".config"}) {
        Put(name, kDocument);
    }
    for (const std::string& arg : row.args) {
        if ((arg.starts_with("/sys/") || arg.starts_with("/proc/")) &&
            !std::filesystem::exists(arg)) {
            GTEST_SKIP() << "reads " << arg << ", which this machine has not";
        }
    }
    if (row.setup != nullptr) {
        row.setup(test::NativePath(Dir()));
    }
    const Outcome run = Convert(row.args, row.input, row.setting);
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
    if (row.out != nullptr) {
        EXPECT_EQ(run.out, row.out);
    }
    for (const auto& [name, bytes] : row.files) {
        EXPECT_EQ(Get(name), bytes) << name;
    }
    for (const std::string& name : row.absent) {
        EXPECT_FALSE(Exists(name)) << name;
    }
}

const std::vector<std::string> kNobody{"setpriv", "--reuid=65534", "--regid=65534",
                                       "--clear-groups"};
std::vector<std::string> Words(std::vector<std::string> first,
                               const std::vector<std::string>& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}
namespace fs = std::filesystem;
constexpr const char* kNoLinks = "symbolic links need a privilege on Windows";

// A FIFO pipe.html that a writer of its own fills with the document once it is opened.
void MakeFifoWithWriter([[maybe_unused]] const fs::path& dir) {
#ifndef _WIN32
    ASSERT_EQ(mkfifo((dir / "pipe.html").c_str(), 0600), 0);
    std::thread([fifo = dir / "pipe.html"] {
        test::WriteBytes(fifo.string(), kDocument);
    }).detach();
#endif
}

// A document long enough that a small one converted beside it would end first.
std::string Terms(const char* term, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += term;
    }
    return text;
}
const std::string kLongDocument = "<dl>" + Terms("<dt>First</dt>", 100000) + "</dl>";
// A name whose cut, 500 bytes from either end, falls inside a two-byte character.
std::string NameAcrossTheCut() {
    std::string name = "x";
    name += Terms("é/", 400);
    return name.append("a.html");
}
const std::string kLongConverted = Terms("\r\n  First", 100000) + kConverted;

// A datagram socket log.sock, bound for the rest of the test as a log daemon's is.
void BindDatagramSocket([[maybe_unused]] const fs::path& dir) {
#ifndef _WIN32
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (dir / "log.sock").string();
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
#endif
}

// A tree of documents: in any case of their extension, deep, named outside ASCII, refused,
// empty, beside a file that is not one.
void MakeTree(const fs::path& dir) {
    fs::create_directories(dir / "tree" / "sub" / "deep");
    fs::create_directories(dir / "tree" / u8"ünï");
    for (const char8_t* name : {u8"a.html", u8"sub/B.HTM", u8"sub/deep/c.htm", u8"ünï/é.html"}) {
        fs::copy_file(dir / "a.html", dir / "tree" / fs::path(name));
    }
    test::WriteBytes((dir / "tree" / "sub" / "refused.html").string(), kZoak);
    test::WriteBytes((dir / "tree" / "sub" / "empty.htm").string(), "");
    test::WriteBytes((dir / "tree" / "notes.txt").string(), "notes");
}

// The same with a link to a document, a link to a folder and a link to the tree itself.
void MakeTreeWithLinks([[maybe_unused]] const fs::path& dir) {
    MakeTree(dir);
#ifndef _WIN32
    fs::create_symlink("../a.html", dir / "tree" / "sub" / "link.html");
    fs::create_directory_symlink("deep", dir / "tree" / "sub" / "deeper");
    fs::create_directory_symlink("..", dir / "tree" / "sub" / "loop");
#endif
}

void MakeFullDevice([[maybe_unused]] const fs::path& dir) {
#ifndef _WIN32
    ASSERT_EQ(mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
#endif
}

INSTANTIATE_TEST_SUITE_P(
    NamesAndOptions, CommandLine,
    testing::Values(
        CommandCase{"ExtensionIsTakenFromTheFileNameOnly",
                    [](const fs::path& dir) {
                        fs::create_directory(dir / "data.old");
                        fs::copy_file(dir / "a.html", dir / "data.old" / "report");
                    },
                    {"data.old/report"},
                    {},
                    0,
                    "",
                    {{"data.old/report.txt", kConverted}},
                    {"data.txt"}},
        CommandCase{
            "NameInAnyScriptIsTakenAsWritten",
            [](const fs::path& dir) { fs::copy_file(dir / "a.html", dir / u8"道路 Ärger.html"); },
            {"道路 Ärger.html"},
            {},
            0,
            "",
            {{"道路 Ärger.txt", kConverted}},
            {}},
        CommandCase{"NameWithoutDotGetsTxtAppended",
                    nullptr,
                    {"./README"},
                    {},
                    0,
                    "",
                    {{"README.txt", kConverted}},
                    {".txt"}},
        CommandCase{"LeadingDotIsPartOfTheName",
                    nullptr,
                    {".config"},
                    {},
                    0,
                    "",
                    {{".config.txt", kConverted}},
                    {".txt"}},
        CommandCase{"TwoInputsForOneOutputAreRefused",
                    nullptr,
                    {"a.html", "a.htm"},
                    {},
                    2,
                    "\"a.html\" and \"a.htm\" would both be written to \"a.txt\"",
                    {},
                    {"a.txt"}},
        CommandCase{"TwoSpellingsOfOneNewOutputAreRefused",
                    nullptr,
                    {"a.html", "./a.htm"},
                    {},
                    2,
                    "\"a.html\" and \"./a.htm\" would both be written to \"./a.txt\"",
                    {},
                    {"a.txt"}},
        CommandCase{"OutputLinkedToAnInputIsRefused",
                    [](const fs::path& dir) { fs::create_symlink("b.html", dir / "b.txt"); },
                    {"a.html", "b.html", "-j1"},
                    {},
                    2,
                    "would replace the input \"b.html\"",
                    {{"b.html", kDocument}},
                    {"a.txt"},
                    false,
                    kNoLinks},
        CommandCase{"BundledUnknownOptionIsNamed",
                    nullptr,
                    {"a.html", "b.html", "-qz"},
                    {},
                    2,
                    "unknown option '-q'",
                    {},
                    {"a.txt"}},
        CommandCase{"EmptyOutputNameIsAUsageError",
                    nullptr,
                    {"-o", "", "a.html"},
                    {},
                    2,
                    "is empty",
                    {},
                    {}},
        CommandCase{"EmptyInputNameIsAUsageError",
                    nullptr,
                    {""},
                    {},
                    2,
                    "input file name is empty",
                    {},
                    {}},
        CommandCase{"SecondOutputIsAUsageError",
                    nullptr,
                    {"-o", "x.txt", "a.html", "--out=y.txt"},
                    {},
                    2,
                    "given twice",
                    {},
                    {"x.txt", "y.txt"}},
        CommandCase{"OptionsAfterInputsDespitePosixlyCorrect",
                    nullptr,
                    {"a.html", "-o", "pc.txt"},
                    {{}, {"POSIXLY_CORRECT=1"}, ""},
                    0,
                    "",
                    {{"pc.txt", kConverted}},
                    {}},
        CommandCase{"WildcardIsPartOfANameWhereTheShellExpands",
                    [](const fs::path& dir) { fs::copy_file(dir / "a.html", dir / "*.html"); },
                    {"*.html"},
                    {},
                    0,
                    "",
                    {{"*.txt", kConverted}},
                    {"a.txt", "b.txt"},
                    false,
                    "Windows names hold no '*': there the converter expands it itself"},
        CommandCase{"ControlBytesInNamesAreEscaped",
                    nullptr,
                    {"bell\a.html"},
                    {},
                    1,
                    "cannot read \"bell\\a.html\": No such file",
                    {},
                    {}},
        CommandCase{"FileSmallerThanItsSizeIsReadWhole",
                    nullptr,
                    {"/sys/devices/system/cpu/online", "-o", "cpus.txt"},
                    {},
                    0,
                    "",
                    {},
                    {},
                    false,
                    "reads a file of Linux's /sys"},
        CommandCase{"ClosedStandardOutputIsAFailure",
                    nullptr,
                    {"-"},
                    {{}, {}, "", false, false, true},
                    1,
                    "cannot write standard output: Bad file descriptor",
                    {},
                    {},
                    false,
                    "closes standard output",
                    kDocument},
        CommandCase{"HelpToAClosedStandardOutputFails",
                    nullptr,
                    {"--help"},
                    {{}, {}, "", false, false, true},
                    1,
                    "cannot write standard output: Bad file descriptor",
                    {},
                    {},
                    false,
                    "closes standard output"},
        CommandCase{"VersionToAClosedStandardOutputFails",
                    nullptr,
                    {"--version"},
                    {{}, {}, "", false, false, true},
                    1,
                    "cannot write standard output: Bad file descriptor",
                    {},
                    {},
                    false,
                    "closes standard output"},
        CommandCase{"ClosedStandardInputIsAFailure",
                    nullptr,
                    {"-", "-o", "x.txt"},
                    {{}, {}, "", false, true},
                    1,
                    "cannot read standard input: Bad file descriptor",
                    {},
                    {"x.txt"},
                    false,
                    "closes standard input"},
        CommandCase{"InputNamedByADescriptorGoesToStandardOutput",
                    nullptr,
                    {"/dev/stdin"},
                    {},
                    0,
                    "",
                    {},
                    {"/dev/stdin.txt"},
                    false,
                    "names standard input by a POSIX name",
                    kDocument,
                    kConverted},
        CommandCase{"FifoInputGoesToStandardOutput",
                    MakeFifoWithWriter,
                    {"pipe.html"},
                    {},
                    0,
                    "",
                    {},
                    {"pipe.txt"},
                    false,
                    "makes a FIFO",
                    "",
                    kConverted},
        CommandCase{"OptionWithoutANameIsShownWhole",
                    nullptr,
                    {"--=x", "a.html"},
                    {},
                    2,
                    "unknown option '--=x'",
                    {},
                    {"a.txt"}},
        CommandCase{"OutputNameEndingInASlashIsNotAFolder",
                    nullptr,
                    {"-o", "out.txt/", "a.html"},
                    {},
                    1,
                    "cannot write \"out.txt/\": Not a directory",
                    {},
                    {"out.txt"},
                    false,
                    "a POSIX path"},
        CommandCase{"NameBytesThatAreNotUtf8AreEscaped",
                    nullptr,
                    {"bad\xff\xc3\xa9.html"},
                    {},
                    1,
                    "cannot read \"bad\\377\xc3\xa9.html\": No such file or directory",
                    {},
                    {},
                    false,
                    "Windows names are UTF-16"},
        CommandCase{"TemporaryFolderThatCannotTakeTheStreamIsNamed",
                    nullptr,
                    {"-"},
                    {{}, {"TMPDIR=/nonexistent"}, ""},
                    1,
                    "cannot read standard input: no temporary file to hold it in TMPDIR "
                    "\"/nonexistent\": No such file or directory",
                    {},
                    {},
                    false,
                    "TMPDIR is POSIX's",
                    kDocument},
        CommandCase{
            "ImmutableOutputIsRefusedAsAnAppendOnlyOneIs",
            [](const fs::path& dir) {
                test::WriteBytes((dir / "a.txt").string(), "old");
                if (std::system(("chattr +i " + (dir / "a.txt").string()).c_str()) != 0) {
                    fs::remove(dir / "a.txt"); // no such flag here: the row converts
                }
            },
            {"a.html"},
            {{"sh", "-c", "\"$0\" \"$@\"; s=$?; chattr -i a.txt 2>/dev/null; exit $s"}, {}, ""},
            1,
            "cannot write \"a.txt\": the file is append-only or immutable",
            {{"a.txt", "old"}},
            {},
            true,
            "chattr"},
        CommandCase{"DatagramSocketIsWrittenDirectly",
                    BindDatagramSocket,
                    {"-o", "log.sock", "a.html"},
                    {},
                    0,
                    "",
                    {},
                    {},
                    false,
                    "a Unix socket"},
        CommandCase{"HardLinkedOutputIsReplacedUnderItsNameAlone",
                    [](const fs::path& dir) {
                        test::WriteBytes((dir / "h1.txt").string(), "old");
                        fs::create_hard_link(dir / "h1.txt", dir / "h2.txt");
                    },
                    {"-o", "h1.txt", "a.html"},
                    {},
                    0,
                    "",
                    {{"h1.txt", kConverted}, {"h2.txt", "old"}},
                    {}},
        CommandCase{"OneStreamNamedTwiceIsRefusedBeforeItIsRead",
                    MakeFifoWithWriter,
                    {"pipe.html", "./pipe.html", "-j1"},
                    {},
                    2,
                    "\"pipe.html\" and \"./pipe.html\" name one input twice",
                    {},
                    {},
                    false,
                    "makes a FIFO"},
        CommandCase{"StandardInputByTwoNamesIsRefused",
                    nullptr,
                    {"-", "/dev/stdin"},
                    {},
                    2,
                    "\"-\" and \"/dev/stdin\" name one input twice",
                    {},
                    {},
                    false,
                    "has no /dev/stdin",
                    kDocument,
                    ""},
        CommandCase{"StandardOutputAppendedToAnInputIsRefused",
                    nullptr,
                    {"-o", "-", "a.html"},
                    {{"sh", "-c", "exec \"$0\" \"$@\" >> a.html"}, {}, ""},
                    2,
                    "standard output is the input \"a.html\"",
                    {{"a.html", kDocument}},
                    {},
                    false,
                    "needs a POSIX shell"},
        CommandCase{"OutputOverTheFileOnStandardInputIsRefused",
                    nullptr,
                    {"-o", "a.html", "-"},
                    {{"sh", "-c", "exec \"$0\" \"$@\" < a.html"}, {}, ""},
                    2,
                    "would replace the input",
                    {{"a.html", kDocument}},
                    {},
                    false,
                    "needs a POSIX shell"},
        CommandCase{"TextsOnStandardOutputFollowTheOrderOfTheirInputs",
                    MakeFifoWithWriter,
                    {"-", "pipe.html", "b.html", "-j3"},
                    {},
                    0,
                    "",
                    {{"b.txt", kConverted}},
                    {},
                    false,
                    "makes a FIFO",
                    kLongDocument,
                    kLongConverted.c_str()},
        CommandCase{"LongNameIsCutInItsMiddleNotItsReason",
                    nullptr,
                    {std::string(5000, 'n') + ".html"},
                    {},
                    1,
                    "n.html\": File name too long\n",
                    {},
                    {},
                    false,
                    "names a file longer than POSIX file systems take",
                    "",
                    nullptr},
        CommandCase{"LongNameIsCutBetweenCharacters",
                    nullptr,
                    {NameAcrossTheCut()},
                    {},
                    1,
                    "é.../é/",
                    {},
                    {}},
        CommandCase{"ClosedStandardErrorTakesNoOutput",
                    nullptr,
                    {"-j2", "a.html", "missing.html", "b.html"},
                    {{}, {}, "", true},
                    1,
                    "",
                    {{"a.txt", kConverted}, {"b.txt", kConverted}},
                    {}},
        // 4194305 is above any process number Linux gives (2^22); process 1 is always there.
        CommandCase{"TemporaryOfAnEndedProcessIsRemovedAndNoOther",
                    [](const fs::path& dir) {
                        for (const char* name :
                             {".velmora-4194305-0-17.tmp", ".velmora-1-0-17.tmp",
                              ".velmora-4194305-0.tmp", ".velmora-4194305-0-17.tmp~"}) {
                            test::WriteBytes((dir / name).string(), "left");
                        }
                    },
                    {"a.html"},
                    {},
                    0,
                    "",
                    {{"a.txt", kConverted},
                     {".velmora-1-0-17.tmp", "left"},
                     {".velmora-4194305-0.tmp", "left"},
                     {".velmora-4194305-0-17.tmp~", "left"}},
                    {".velmora-4194305-0-17.tmp"},
                    false,
                    "takes process 1 for one that is always there, which Windows has not"},
        CommandCase{"HelpThatCannotBeWrittenFails",
                    MakeFullDevice,
                    {"--help"},
                    {{}, {}, "full"},
                    1,
                    "cannot write standard output: No space left on device",
                    {},
                    {},
                    true,
                    "needs a device that is always full (/dev/full)"},
        // The leak checker would need a thread of its own at exit.
        CommandCase{"OneThreadWhenNoMoreCanStart",
                    [](const fs::path& dir) { fs::permissions(dir, fs::perms::all); },
                    {"-j", "4", "a.html", "b.html"},
                    {Words({"prlimit", "--nproc=1"}, kNobody), {"ASAN_OPTIONS=detect_leaks=0"}, ""},
                    0,
                    "",
                    {{"a.txt", kConverted}, {"b.txt", kConverted}},
                    {},
                    true,
                    "limits the process count with prlimit and runs as another user"}),
    test::RowName());

// Folders walked with -r, and outputs written under -O.
INSTANTIATE_TEST_SUITE_P(
    Folders, CommandLine,
    testing::Values(
        CommandCase{"FolderWithoutRecursiveIsAFailureThatSuggestsIt",
                    MakeTree,
                    {"tree", "a.html"},
                    {},
                    1,
                    "cannot read \"tree\": it is a folder; -r converts the documents in it\n",
                    {{"a.txt", kConverted}},
                    {"tree/a.txt"}},
        CommandCase{"TreeIsWrittenUnderTheOutputFolderAndCounted",
                    MakeTree,
                    {"-r", "tree", "-O", "out/text", "-j", "2"},
                    {},
                    3,
                    ": 4 converted, 1 refused, 1 empty, 0 failed, 1 passed over\n",
                    {{"out/text/a.txt", kConverted},
                     {"out/text/sub/B.txt", kConverted},
                     {"out/text/sub/deep/c.txt", kConverted},
                     {"out/text/ünï/é.txt", kConverted}},
                    {"out/text/sub/refused.txt", "out/text/sub/empty.txt", "tree/a.txt"}},
        CommandCase{"LinksToDocumentsAreFollowedAndLinksToFoldersNot",
                    MakeTreeWithLinks,
                    {"--recursive", "tree"},
                    {},
                    3,
                    ": 5 converted, 1 refused, 1 empty, 0 failed, 3 passed over\n",
                    {{"tree/sub/link.txt", kConverted}, {"tree/sub/deep/c.txt", kConverted}},
                    {},
                    false,
                    kNoLinks},
        CommandCase{"UnreadableFolderIsAFailureAndTheWalkGoesOn",
                    [](const fs::path& dir) {
                        MakeTree(dir);
                        fs::permissions(dir, fs::perms::all);
                        fs::permissions(dir / "tree", fs::perms::all);
                        fs::permissions(dir / "tree" / "sub", fs::perms::none);
                    },
                    {"-r", "tree"},
                    {kNobody, {}, ""},
                    1,
                    "cannot read \"tree/sub\": Permission denied\n",
                    {{"tree/a.txt", kConverted}},
                    {},
                    true,
                    "permissions"},
        CommandCase{"TwoDocumentsBoundForOneNewOutputAreRefused",
                    [](const fs::path& dir) {
                        MakeTree(dir);
                        fs::copy_file(dir / "a.html", dir / "tree" / "sub" / "B.html");
                    },
                    {"-r", "tree", "-O", "new/text"},
                    {},
                    2,
                    "would both be written to",
                    {},
                    {"new"}},
        CommandCase{"OutputFolderInTheWalkedTreeIsRefused",
                    MakeTree,
                    {"-r", "tree/", "-O", "tree/sub/../text"},
                    {},
                    2,
                    "which is converted; name one outside it",
                    {},
                    {"tree/a.txt", "tree/text"}},
        CommandCase{"OutputFolderPastAMissingFolderStillGuardsTheTree",
                    MakeTree,
                    {"-r", "tree", "-O", "nothere/../tree/text"},
                    {},
                    2,
                    "which is converted; name one outside it",
                    {},
                    {"tree/text", "nothere"}},
        CommandCase{"OutputOverItsInputPastAMissingFolderIsRefused",
                    [](const fs::path& dir) { fs::copy_file(dir / "a.html", dir / "a.txt"); },
                    {"-O", "new/..", "a.txt"},
                    {},
                    2,
                    "would replace the input",
                    {{"a.txt", kDocument}},
                    {"new"}},
        CommandCase{"ColonEndsNoDriveOnPosix",
                    [](const fs::path& dir) {
                        fs::create_directory(dir / "b");
                        fs::copy_file(dir / "a.html", dir / "b" / "a.html");
                    },
                    {"-O", "y:", "a.html", "b/a.html"},
                    {},
                    2,
                    "would both be written to \"y:/a.txt\"; convert them in separate runs",
                    {},
                    {"y:"},
                    false,
                    "a colon ends a drive's name on Windows"},
        CommandCase{"FolderWithoutDocumentsConvertsNothingAndSaysSo",
                    [](const fs::path& dir) { fs::create_directory(dir / "none"); },
                    {"-r", "none"},
                    {},
                    0,
                    ": 0 converted, 0 refused, 0 empty, 0 failed, 0 passed over\n",
                    {},
                    {}},
        CommandCase{"FilesNamedOneByOneGoToTheOutputFolderByName",
                    MakeTree,
                    {"-O", "out", "a.html", "tree/sub/deep/c.htm"},
                    {},
                    0,
                    "",
                    {{"out/a.txt", kConverted}, {"out/c.txt", kConverted}},
                    {"a.txt"}},
        CommandCase{"OutputFileAndOutputFolderTogetherAreAUsageError",
                    nullptr,
                    {"-o", "x.txt", "-O", "out", "a.html"},
                    {},
                    2,
                    "give one of them",
                    {},
                    {"x.txt", "out"}}),
    test::RowName());

// Typed on a Windows command line, as cmd.exe and PowerShell leave it to the program.
struct TypedCase {
    const char* name;
    std::vector<std::string> inputs; // made in the test folder, each holding the document
    std::vector<std::string> words;  // typed, quotes and all
    int status;
    std::string message;                                    // part of standard error
    std::vector<std::pair<std::string, std::string>> files; // written as given
    std::vector<std::string> absent;
    friend void PrintTo(const TypedCase& row, std::ostream* os) { *os << row.name; }
};

class TypedCommandLine : public Cli, public testing::WithParamInterface<TypedCase> {};

TEST_P(TypedCommandLine, ExpandsWildcardsOutsideQuotes) {
    const TypedCase& row = GetParam();
#ifndef _WIN32
    GTEST_SKIP() << "a POSIX shell expands wildcards before the converter starts";
#endif
    for (const std::string& input : row.inputs) {
        fs::create_directories(test::NativePath(Dir() + "/" + input).parent_path());
        Put(input, kDocument);
    }
    Setting typed;
    typed.typed = true;
    const Outcome run = Convert(row.words, "", typed);
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
    for (const auto& [name, bytes] : row.files) {
        EXPECT_EQ(Get(name), bytes) << name;
    }
    for (const std::string& name : row.absent) {
        EXPECT_FALSE(Exists(name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Wildcards, TypedCommandLine,
    testing::Values(TypedCase{"EveryMatchAndOnlyThose",
                              {"one.html", "two.HTML", "three.htm", "four.html.bak"},
                              {"*.html"},
                              0,
                              "",
                              {{"one.txt", kConverted}, {"two.txt", kConverted}},
                              {"three.txt", "four.html.txt"}},
                    TypedCase{"ExtensionMatchedWholeNotByAShortName",
                              {"long.html", "short.htm"},
                              {"*.htm"},
                              0,
                              "",
                              {{"short.txt", kConverted}},
                              {"long.txt"}},
                    TypedCase{"WildcardsInFolderPartsMatchFolders",
                              {"d/x/one.htm", "d/y/two.htm", "d/top.htm", "d/x/skip.html"},
                              {"d\\*\\*.htm"},
                              0,
                              "",
                              {{"d/x/one.txt", kConverted}, {"d/y/two.txt", kConverted}},
                              {"d/top.txt", "d/x/skip.txt"}},
                    TypedCase{"LettersInAnyScriptMatchCaseBlind",
                              {"été.html", "ab.html"},
                              {"?TÉ.HTML"},
                              0,
                              "",
                              {{"été.txt", kConverted}},
                              {"ab.txt"}},
                    TypedCase{"WithRecursiveAWildcardMatchesFoldersToo",
                              {"data1/a.htm", "data2/sub/b.html", "other/c.html"},
                              {"-r", "data?", "-O", "out"},
                              0,
                              "2 converted",
                              {{"out/a.txt", kConverted}, {"out/sub/b.txt", kConverted}},
                              {"out/c.txt"}},
                    // The test folder is the current one, in the temporary folder on C:.
                    TypedCase{"DriveAloneAsTheOutputFolderIsItsCurrentFolder",
                              {"d/a.html"},
                              {"-O", "C:", "d\\a.html"},
                              0,
                              "",
                              {{"a.txt", kConverted}},
                              {"C"}},
                    TypedCase{"QuotedWildcardIsAName",
                              {"a.html"},
                              {"\"*.html\""},
                              1,
                              "cannot read \"*.html\": No such file or directory",
                              {},
                              {"a.txt"}},
                    TypedCase{"NoMatchIsAFailureAndTheRestAreConverted",
                              {"a.html"},
                              {"*.xml", "a.html"},
                              1,
                              "velmora-convert: cannot read \"*.xml\": no file matches it\n",
                              {{"a.txt", kConverted}},
                              {}},
                    TypedCase{"OptionValueIsNotExpanded",
                              {"a.html", "x.out"},
                              {"a.html", "-o", "*.out"},
                              1,
                              "cannot write \"*.out\"",
                              {{"x.out", kDocument}},
                              {"a.txt"}}),
    test::RowName());

// A document of about `megabytes` MB that converts to about as much text.
[[maybe_unused]] std::string LargeDocument(std::size_t megabytes) {
    const std::string entry = "<dt>Title of an entry</dt><dd>Its value, in a few more words</dd>\n";
    std::string document = "<dl>";
    document.reserve(megabytes << 20);
    while (document.size() < (megabytes << 20)) {
        document += entry;
    }
    return document + "</dl>";
}

#ifndef _WIN32
// Makes this process, and what it runs, find no file system that can make unnamed
// files, so that the converter falls back to a named temporary.
bool RefuseUnnamedFiles() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_TMPFILE & ~O_DIRECTORY, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Interrupted at any moment, 20 times by each signal, a conversion leaves the old output
// or the new one, whole, and no file of its own: a named temporary is removed by the
// signals that can be caught, and an unnamed one never outlives the process.
#endif

TEST_F(Cli, SignalsLeaveTheOutputWholeAndNothingBehind) {
#ifdef _WIN32
    GTEST_SKIP()
        << "Ctrl+C reaches only a console's process group, which a test run under Wine has not";
#else
    Put("big.html", LargeDocument(20));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(Convert({"big.html", "-o", "reference.txt"}).status, 0);
    const auto took = std::chrono::steady_clock::now() - started;
    const std::string converted = Get("reference.txt");
    std::remove((Dir() + "/reference.txt").c_str());
    std::mt19937 random(7);

    struct Interruption {
        int signal;
        bool named; // wait for the named temporary, then signal
    };
    std::vector<Interruption> rows;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        for (int time = 0; time < 20; ++time) {
            // Half the time, those that can be caught find a named temporary to remove.
            rows.push_back({signal, signal != SIGKILL && time % 2 == 0});
        }
    }
    for (const Interruption row : rows) {
        Put("big.txt", "old");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (chdir(Dir().c_str()) == 0 && (!row.named || RefuseUnnamedFiles())) {
                execl(VELMORA_CONVERT, VELMORA_CONVERT, "big.html", nullptr);
            }
            _exit(127);
        }
        if (row.named) { // the temporary exists only while the text is written out
            for (int wait = 0; wait < 20000; ++wait) {
                const std::vector<std::string> names = Entries();
                if (std::any_of(names.begin(), names.end(),
                                [](const std::string& n) { return n.starts_with(".velmora-"); })) {
                    break;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        } else {
            std::this_thread::sleep_for(took * std::uniform_real_distribution(0.0, 1.0)(random));
        }
        kill(child, row.signal);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        const std::string output = Get("big.txt");
        EXPECT_TRUE(output == "old" || output == converted) << "signal " << row.signal;
        EXPECT_EQ(Entries(), (std::vector<std::string>{"big.html", "big.txt"}))
            << "signal " << row.signal;
        if (WIFSIGNALED(status)) {
            EXPECT_EQ(WTERMSIG(status), row.signal) << "did not end as the signal would have";
        }
    }
#endif
}

// SIGTERM once an output is in place: strace holds back the return of the rename that put
// it there, and the signal is sent meanwhile. A run with nothing left to do has succeeded
// and says so; a batch with an input still to convert stops at once, by the signal, with
// the done output in place and nothing else left behind.
TEST_F(Cli, SignalAfterTheReplacementDoesNotFailWhatIsDone) {
#ifdef _WIN32
    GTEST_SKIP() << "delays the rename under strace";
#else
    if (test::Launch({"strace", "-o", "/dev/null", "true"}, Dir(), {}) != 0) {
        GTEST_SKIP() << "needs strace and the right to trace a process";
    }
    struct Row {
        const char* name;
        std::vector<std::string> args;
        bool endedBySignal;
    };
    const Row rows[] = {
        {"one input", {"a.html"}, false},
        {"one input of a batch, the other still to come", {"-j1", "a.html", "b.html"}, true},
    };
    for (const Row& row : rows) {
        for (const std::string& name : Entries()) {
            std::remove((Dir() + "/" + name).c_str());
        }
        Put("a.html", kDocument);
        Put("b.html", kDocument);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // LeakSanitizer cannot work under a tracer: it would fail the converter.
            std::vector<std::string> words{"env",
                                           "ASAN_OPTIONS=detect_leaks=0",
                                           "strace",
                                           "-f",
                                           "-qq",
                                           "-o",
                                           "/dev/null",
                                           "-e",
                                           "trace=rename,renameat,renameat2",
                                           "-e",
                                           "inject=rename,renameat,renameat2:delay_exit=1000000",
                                           VELMORA_CONVERT};
            words.insert(words.end(), row.args.begin(), row.args.end());
            std::vector<char*> argv;
            for (std::string& word : words) {
                argv.push_back(word.data());
            }
            argv.push_back(nullptr);
            if (chdir(Dir().c_str()) == 0) {
                execvp("env", argv.data());
            }
            _exit(127);
        }
        // The rename is made and its return held back: the text is in place.
        for (int wait = 0; wait < 1000 && (!Exists("a.txt") || Get("a.txt") != kConverted);
             ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const std::string children = test::ReadBytes("/proc/" + std::to_string(child) + "/task/" +
                                                     std::to_string(child) + "/children");
        const pid_t converter = static_cast<pid_t>(std::atol(children.c_str()));
        ASSERT_GT(converter, 0) << row.name;
        kill(converter, SIGTERM);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        // strace ends as what it ran ended.
        const bool bySignal = (WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) ||
                              (WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM);
        EXPECT_EQ(bySignal, row.endedBySignal) << row.name << ": status " << status;
        if (!row.endedBySignal) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << row.name;
        }
        EXPECT_EQ(Get("a.txt"), kConverted) << row.name;
        EXPECT_EQ(Entries(), (std::vector<std::string>{"a.html", "a.txt", "b.html"})) << row.name;
    }
#endif
}

// Another process cuts the input short, adds to it or overwrites it at moments spread
// over a whole run: every run ends with the old output and a failure naming the file, or
// with the text of the one version the converter saw throughout.
TEST_F(Cli, InputChangedDuringTheRunIsConvertedWholeOrFails) {
#ifdef _WIN32
    GTEST_SKIP() << "starts and times the converter with fork; the engine's own table runs here";
#else
    const std::string before = LargeDocument(8);
    const std::string after = "<dl><dt>Another document</dt></dl>" + before.substr(1000);
    const auto converted = [&](const std::string& text) {
        Put("big.html", text);
        EXPECT_EQ(Convert({"big.html"}).status, 0);
        return Get("big.txt");
    };
    const std::string oldText = converted(before);
    // What follows the last list is cut back off an output already megabytes long.
    EXPECT_EQ(converted(before + "<p>after the list</p>"), oldText);
    const std::string cutText = converted(before.substr(0, before.size() / 2));
    const std::string addedText = converted(before + "<dl><dt>more</dt></dl>");
    const std::string newText = converted(after);
    const auto started = std::chrono::steady_clock::now();
    converted(before);
    const auto took = std::chrono::steady_clock::now() - started;
    const std::vector<std::pair<std::string, std::function<void()>>> changes{
        {"cut short",
         [&] { EXPECT_EQ(truncate((Dir() + "/big.html").c_str(), before.size() / 2), 0); }},
        {"added to", [&] { Put("big.html", before + "<dl><dt>more</dt></dl>"); }},
        {"overwritten", [&] { Put("big.html", after); }},
    };
    for (const auto& [what, change] : changes) {
        for (int moment = 0; moment <= 8; ++moment) {
            Put("big.html", before);
            Put("big.txt", "old");
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                if (chdir(Dir().c_str()) == 0 && freopen("err", "w", stderr) != nullptr) {
                    execl(VELMORA_CONVERT, VELMORA_CONVERT, "big.html", nullptr);
                }
                _exit(127);
            }
            std::this_thread::sleep_for(took * moment / 8);
            change();
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            const std::string output = Get("big.txt");
            const std::string where = what + " at " + std::to_string(moment) + "/8";
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
                EXPECT_TRUE(output == oldText || output == cutText || output == addedText ||
                            output == newText)
                    << where << ": a text of neither version";
            } else if (WIFEXITED(status) && WEXITSTATUS(status) == 4) { // found while rewritten
                EXPECT_EQ(output, "old") << where;
            } else {
                EXPECT_EQ(WEXITSTATUS(status), 1) << where;
                EXPECT_EQ(Get("err"), "velmora-convert: cannot read \"big.html\": the file changed "
                                      "while it was being converted\n")
                    << where;
                EXPECT_EQ(output, "old") << where;
            }
            std::remove((Dir() + "/err").c_str());
            EXPECT_EQ(Entries(), (std::vector<std::string>{"big.html", "big.txt"})) << where;
        }
    }
#endif
}

// Descriptors or address space that the conversions beside an input hold are no reason
// for it to fail: it waits for them and converts; only what cannot convert alone fails.
TEST_F(Cli, RoomHeldByOtherConversionsIsWaitedFor) {
#if defined(_WIN32)
    GTEST_SKIP() << "POSIX resource limits";
#elif defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit leaves";
#else
    for (int i = 0; i < 1111; ++i) {
        Put(std::string("d").append(std::to_string(i)).append(".html"), kDocument);
    }
    // Six descriptors: the three standard ones, and room for one conversion at a time.
    const Outcome fewDescriptors = Convert(
        {"-j2", "d0.html", "d1.html"}, "",
        {{"bash", "-c", "exec 3>&- 4>&- 5>&- && ulimit -n 6 && exec \"$0\" \"$@\""}, {}, ""});
    EXPECT_EQ(fewDescriptors.status, 0) << fewDescriptors.err;
    const Outcome littleSpace = Convert(
        {"-j1024"}, "", {{"sh", "-c", "ulimit -v 900000 && exec \"$0\" \"$@\" d*.html"}, {}, ""});
    EXPECT_EQ(littleSpace.status, 0) << littleSpace.err;
    EXPECT_EQ(Get("d1110.txt"), kConverted);
#endif
}

// A reader that stops early, as `head` does, ends the converter quietly, as any filter.
TEST_F(Cli, ClosedPipeOnStandardOutputEndsQuietly) {
#ifdef _WIN32
    GTEST_SKIP() << "SIGPIPE and a shell's pipeline";
#else
    Put("big.html", LargeDocument(8));
    const Setting throughHead{
        {"bash", "-c", "set -o pipefail; \"$0\" \"$@\" | head -c 1 >/dev/null"}, {}, ""};
    const Outcome run = Convert({"-o", "-", "big.html"}, "", throughHead);
    EXPECT_EQ(run.status, 128 + SIGPIPE);
    EXPECT_EQ(run.err, "");
    // Started with the signal ignored, it says so and fails, as the filters of coreutils.
    const Setting ignoring{
        {"bash", "-c", "trap '' PIPE; set -o pipefail; \"$0\" \"$@\" | head -c 1 >/dev/null"},
        {},
        ""};
    const Outcome ignored = Convert({"-o", "-", "big.html"}, "", ignoring);
    EXPECT_EQ(ignored.status, 1);
    EXPECT_EQ(ignored.err, "velmora-convert: cannot write standard output: Broken pipe\n");
#endif
}

// Under a control group's memory limit, a large document converts in the little memory
// a conversion needs, from a file or from a pipe; one whose single line will not fit
// fails with a message instead of the process being killed.
TEST_F(Cli, GroupMemoryLimitIsAFailureNotAKill) {
#ifdef _WIN32
    GTEST_SKIP() << "Linux control groups; a job object's limit is tested in engine_hostile_test";
#else
    const std::string group = "/sys/fs/cgroup/memory/velmora-test-" + std::to_string(getpid());
    if (mkdir(group.c_str(), 0755) != 0) {
        GTEST_SKIP() << "no cgroup v1 memory hierarchy to make a group in (needs root)";
    }
    test::WriteBytes(group + "/memory.limit_in_bytes", "67108864");
    Put("big.html", LargeDocument(80));
    Put("long.html", "<dl><dt>" + std::string(std::size_t{80} << 20, 'x') + "</dl>");
    const Setting inGroup{
        {"sh", "-c", "echo $$ > " + group + "/cgroup.procs && exec \"$0\" \"$@\""}, {}, ""};
    const Outcome large = Convert({"big.html"}, "", inGroup);
    const Outcome file = Convert({"long.html"}, "", inGroup);
    const Outcome piped = Convert({"-", "-o", "piped.txt"}, Get("long.html"), inGroup);
    rmdir(group.c_str());
    EXPECT_EQ(large.status, 0) << large.err;
    EXPECT_EQ(file.status, 1) << file.err;
    EXPECT_EQ(file.err, "velmora-convert: not enough memory to convert \"long.html\"\n");
    EXPECT_EQ(piped.status, 1) << piped.err;
    EXPECT_EQ(piped.err, "velmora-convert: not enough memory to convert standard input\n");
    EXPECT_EQ(Entries(), (std::vector<std::string>{"big.html", "big.txt", "long.html"}));
#endif
}

// Little room left under the control group's limit (its files stood in for in a private
// mount namespace). With 3 MiB, a batch of eight small documents run eight at a time
// converts whole: each claims what a small document needs, and those that find no room
// wait for the others to end. With 100 MiB, a line costs what it takes (its buffer, the
// old one while it grows, and the line once more on its way out): one of 40 MiB fails as
// not enough memory instead of being taken on credit, one of 10 MiB converts.
TEST_F(Cli, LittleRoomIsSharedAtWhatEachConversionCosts) {
#ifdef _WIN32
    GTEST_SKIP() << "Linux control groups";
#else
    if (test::Launch({"unshare", "-m", "true"}, Dir(), {}) != 0) {
        GTEST_SKIP() << "needs a private mount namespace (unshare -m, root)";
    }
    const auto withRoom = [](std::size_t room) {
        const std::string script = R"(
            mount -t tmpfs none /sys/fs/cgroup || exit 125
            v1=$(sed -n 's/^[0-9]*:[^:]*memory[^:]*:\(.*\)$/\1/p' /proc/self/cgroup)
            v2=$(sed -n 's/^0::\(.*\)$/\1/p' /proc/self/cgroup)
            if [ -n "$v1" ]; then d=/sys/fs/cgroup/memory$v1; limit=memory.limit_in_bytes
                 used=memory.usage_in_bytes
            else d=/sys/fs/cgroup$v2; limit=memory.max; used=memory.current; fi
            mkdir -p "$d" && echo $((1000000000 + )" +
                                   std::to_string(room) + R"()) > "$d/$limit" &&
                echo 1000000000 > "$d/$used"
            exec "$0" "$@")";
        return Setting{{"unshare", "-m", "sh", "-c", script}, {}, ""};
    };
    std::vector<std::string> batch{"-j", "8"};
    for (char name = 'a'; name < 'i'; ++name) {
        Put(std::string(1, name) + ".html", kDocument);
        batch.push_back(std::string(1, name) + ".html");
    }
    const Outcome small = Convert(batch, "", withRoom(std::size_t{3} << 20));
    EXPECT_EQ(small.status, 0) << small.err;
    for (char name = 'a'; name < 'i'; ++name) {
        EXPECT_EQ(Get(std::string(1, name) + ".txt"), kConverted) << name;
    }
    Put("40.html", "<dl><dt>" + std::string(std::size_t{40} << 20, 'x') + "</dl>");
    Put("10.html", "<dl><dt>" + std::string(std::size_t{10} << 20, 'x') + "</dl>");
    const Outcome longer = Convert({"40.html"}, "", withRoom(std::size_t{100} << 20));
    EXPECT_EQ(longer.err, "velmora-convert: not enough memory to convert \"40.html\"\n");
    EXPECT_EQ(Convert({"10.html"}, "", withRoom(std::size_t{100} << 20)).status, 0);
#endif
}

TEST_F(Cli, HelpAndVersion) {
    const Outcome help = Convert({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Exit status:"), std::string::npos);
    // A standard console is 80 columns wide and wraps a line that fills it.
    for (std::size_t start = 0, end; (end = help.out.find('\n', start)) != std::string::npos;
         start = end + 1) {
        EXPECT_LT(end - start, 80u) << help.out.substr(start, end - start);
    }
    Setting typed;
    typed.typed = true;
    const Outcome slash = Convert({"/?"}, "", typed);
#ifdef _WIN32
    EXPECT_EQ(slash.status, 0);
    EXPECT_EQ(slash.out, help.out);
#else
    EXPECT_EQ(slash.status, 1);
    EXPECT_EQ(slash.err, "velmora-convert: cannot read \"/?\": No such file or directory\n");
#endif
    const Outcome version = Convert({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "velmora-convert 1.0\n");
}

} // namespace
} // namespace velmora
