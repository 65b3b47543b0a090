// velmora-convert: the converter for scripts and terminals. Arguments in, engine
// called, one line per problem on standard error, an exit status that tells a script
// what happened.

#include "velmora/convert.h"
#include "velmora/output_path.h"
#include "velmora/process.h"
#include "velmora/version.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <shellapi.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr const char* kProgram = "velmora-convert";
constexpr const char* kStdio = "-";

enum ExitStatus { kConverted = 0, kFailed = 1, kUsage = 2, kRefused = 3, kEmpty = 4 };

constexpr const char* kUsageText =
    "Usage: velmora-convert [OPTION]... INPUT...\n"
    "Convert HTML documents written as nested definition lists into indented text.\n"
    "\n"
    "Each INPUT is written beside itself with its extension replaced by \"txt\"\n"
    "(report.html -> report.txt); an INPUT that already ends in \".txt\" needs -o.\n"
    "An INPUT of \"-\" reads standard input and, without -o, writes standard output.\n"
    "\n"
    "  -o, --output=FILE  write the one INPUT to FILE (\"-\" for standard output)\n"
    "  -j, --jobs=N       convert up to N inputs at once (default: the number of cores)\n"
    "      --help         show this help and exit\n"
    "      --version      show the version and exit\n"
    "\n"
    "Options may stand before or after the inputs; \"--\" ends them.\n"
    "\n"
    "Exit status:\n"
    "  0  every input was converted\n"
    "  1  some input could not be read, converted or written\n"
    "  3  none failed, but some input was refused (a ZOAK metadata report)\n"
    "  4  none failed or was refused, but some input was empty: nothing was written for it\n"
    "  2  the command line was wrong\n";

struct Options {
    std::vector<std::string> inputs;
    std::optional<std::string> output;
    unsigned jobs = 0;
};

// The C escape of a control byte or backslash that has a letter of its own, or "".
std::string_view EscapeOf(char c) {
    switch (c) {
#ifndef _WIN32 // there, the folder separator
    case '\\':
        return "\\\\";
#endif
    case '\a':
        return "\\a";
    case '\b':
        return "\\b";
    case '\t':
        return "\\t";
    case '\n':
        return "\\n";
    case '\v':
        return "\\v";
    case '\f':
        return "\\f";
    case '\r':
        return "\\r";
    default:
        return {};
    }
}

// A file name as it may be shown on a terminal: control bytes, and the backslash that
// starts an escape, written as C escapes, as `ls -b` does.
std::string Escaped(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (const std::string_view named = EscapeOf(c); !named.empty()) {
            shown += named;
        } else if (byte < 0x20 || byte == 0x7f) {
            const char octal[] = {'\\', static_cast<char>('0' + (byte >> 6)),
                                  static_cast<char>('0' + ((byte >> 3) & 7)),
                                  static_cast<char>('0' + (byte & 7))};
            shown.append(octal, sizeof octal);
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string Quoted(std::string_view name) {
    return "\"" + Escaped(name) + "\"";
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram,
                 message.c_str(), kProgram);
    return kUsage;
}

// Prints `text` on standard output and says whether it got there: help asked for with
// standard output on a full disk has not been given.
int PrintAndExit(const char* text) {
    std::fputs(text, stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "%s: cannot write standard output: %s\n", kProgram,
                     std::strerror(errno));
        return kFailed;
    }
    return kConverted;
}

struct LongOption {
    std::string_view name;
    char key;
    bool takesValue;
};
constexpr char kHelpKey = 'h';
constexpr char kVersionKey = 'V';
constexpr LongOption kLongOptions[] = {{"output", 'o', true},
                                       {"jobs", 'j', true},
                                       {"help", kHelpKey, false},
                                       {"version", kVersionKey, false}};

// The long option `name` stands for: its own, or the one it is an abbreviation of.
std::optional<LongOption> FindLongOption(std::string_view name, std::string& problem) {
    std::optional<LongOption> found;
    for (const LongOption& option : kLongOptions) {
        if (option.name == name) {
            return option;
        }
        if (!name.empty() && option.name.starts_with(name)) {
            if (found) {
                problem = "option '--" + std::string(name) + "' is ambiguous";
                return std::nullopt;
            }
            found = option;
        }
    }
    if (!found) {
        problem = "unknown option '--" + Escaped(name) + "'";
    }
    return found;
}

// Takes one option with its value (nullptr for none); returns an exit status when the
// program should stop at once (help, version, a usage error).
std::optional<int> TakeOption(char key, const std::string& shown, const char* value,
                              Options& options) {
    switch (key) {
    case 'o':
        if (options.output) {
            return UsageError("-o names one output, but was given twice");
        }
        if (*value == '\0') {
            return UsageError("the output file name (" + shown + ") is empty");
        }
        options.output = value;
        return std::nullopt;
    case 'j': {
        char* end = nullptr;
        errno = 0;
        const long jobs = std::strtol(value, &end, 10);
        if (*value == '\0' || *end != '\0' || errno != 0 || jobs < 1 || jobs > 1024) {
            return UsageError(shown + " wants a number of jobs from 1 to 1024, not '" +
                              Escaped(value) + "'");
        }
        options.jobs = static_cast<unsigned>(jobs);
        return std::nullopt;
    }
    case kHelpKey:
        return PrintAndExit(kUsageText);
    default:
        return PrintAndExit((std::string(kProgram) + " " + velmora::kVersion + "\n").c_str());
    }
}

// Parses the command line into `options`; returns an exit status when the program
// should stop at once (help, version, a usage error). Options are read wherever they
// stand, before "--", whatever POSIXLY_CORRECT says; short ones may be bundled ("-j2").
std::optional<int> ParseArguments(int argc, char** argv, Options& options) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (arg.empty()) {
                return UsageError("an input file name is empty");
            }
            options.inputs.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg.starts_with("--")) {
            const std::size_t equals = arg.find('=');
            const std::string_view name = arg.substr(
                2, equals == std::string_view::npos ? std::string_view::npos : equals - 2);
            std::string problem;
            const std::optional<LongOption> option = FindLongOption(name, problem);
            if (!option) {
                return UsageError(problem);
            }
            const std::string shown = "--" + std::string(option->name);
            const char* value = nullptr;
            if (equals != std::string_view::npos) {
                if (!option->takesValue) {
                    return UsageError("option '" + shown + "' takes no value");
                }
                value = argv[i] + equals + 1;
            } else if (option->takesValue) {
                if (i + 1 == argc) {
                    return UsageError("option '" + shown + "' needs a value");
                }
                value = argv[++i];
            }
            if (const std::optional<int> stop = TakeOption(option->key, shown, value, options)) {
                return stop;
            }
            continue;
        }
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const char key = arg[k];
            const std::string shown = std::string("-") + key;
            if (key != 'o' && key != 'j') {
                return UsageError("unknown option '" + Escaped(shown) + "'");
            }
            const char* value = argv[i] + k + 1;
            if (k + 1 == arg.size()) {
                if (i + 1 == argc) {
                    return UsageError("option '" + shown + "' needs a value");
                }
                value = argv[++i];
            }
            if (const std::optional<int> stop = TakeOption(key, shown, value, options)) {
                return stop;
            }
            break;
        }
    }
    if (options.inputs.empty()) {
        return UsageError("no input named");
    }
    if (options.output && options.inputs.size() > 1) {
        return UsageError("-o names the output of one input, but " +
                          std::to_string(options.inputs.size()) + " were given");
    }
    if (std::count(options.inputs.begin(), options.inputs.end(), kStdio) > 1) {
        return UsageError("standard input ('-') can be read only once");
    }
    if (options.jobs == 0) {
        options.jobs = std::max(1u, std::thread::hardware_concurrency());
    }
    return std::nullopt;
}

// The output written for `input` without -o: the input with the extension of its file
// name replaced by "txt". The extension starts at the last "." of the last path
// component, unless that dot starts the name (".config" is a name, not an extension).
std::string DefaultOutputPath(const std::string& input) {
#ifdef _WIN32
    const std::size_t slash = input.find_last_of(":/\\"); // "C:report" too
#else
    const std::size_t slash = input.rfind('/');
#endif
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = input.rfind('.');
    if (dot == std::string::npos || dot <= nameStart) {
        return input + ".txt";
    }
    return input.substr(0, dot + 1) + "txt";
}

// Where each input is written ("-" for standard output).
std::vector<std::string> OutputsOf(const Options& options) {
    std::vector<std::string> outputs;
    outputs.reserve(options.inputs.size());
    for (const std::string& input : options.inputs) {
        outputs.push_back(options.output
                              ? *options.output
                              : (input == kStdio ? std::string(kStdio) : DefaultOutputPath(input)));
    }
    return outputs;
}

// Refuses, before anything is converted, a run in which one file would be written twice
// or an input would be written over: files are told apart by what they are on disk
// (links and other names of one file are one file), not by how they are spelled.
std::optional<int> CheckOutputs(const Options& options, const std::vector<std::string>& outputs) {
    std::unordered_map<std::string, std::size_t> inputKeys;
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        if (options.inputs[i] != kStdio) {
            inputKeys.emplace(velmora::FileKey(options.inputs[i]), i);
        }
    }
    std::unordered_map<std::string, std::size_t> outputKeys;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (outputs[i] == kStdio) {
            continue;
        }
        const std::string key = velmora::FileKey(outputs[i]);
        if (key.empty()) {
            continue; // cannot be looked at: writing it will say why
        }
        if (const auto input = inputKeys.find(key); input != inputKeys.end()) {
            return UsageError("the output " + Quoted(outputs[i]) + " of " +
                              Quoted(options.inputs[i]) + " would replace the input " +
                              Quoted(options.inputs[input->second]) + "; name another with -o");
        }
        if (const auto [first, added] = outputKeys.emplace(key, i); !added) {
            return UsageError(Quoted(options.inputs[first->second]) + " and " +
                              Quoted(options.inputs[i]) + " would both be written to " +
                              Quoted(outputs[i]) + "; convert them one at a time with -o");
        }
    }
    return std::nullopt;
}

// Whether standard error is a terminal that can show the count, which rewrites its line
// with an escape sequence: a Windows console only once it is asked to take them.
bool TerminalCanCount() {
#ifdef _WIN32
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(console, &mode) &&
           ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
            SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING));
#else
    return isatty(STDERR_FILENO);
#endif
}
// One line for standard error, made in a fixed buffer and written with one call: a
// failure must be reportable when no memory can be had at all. A line too long for the
// buffer is cut short.
class Line {
public:
    Line& Text(std::string_view text) {
        for (const char c : text) {
            Put(c);
        }
        return *this;
    }
    // A file name with control bytes escaped as Escaped does.
    Line& Escape(std::string_view name) {
        for (const char c : name) {
            const auto byte = static_cast<unsigned char>(c);
            if (const std::string_view named = EscapeOf(c); !named.empty()) {
                Text(named);
            } else if (byte < 0x20 || byte == 0x7f) {
                Put('\\');
                Put(static_cast<char>('0' + (byte >> 6)));
                Put(static_cast<char>('0' + ((byte >> 3) & 7)));
                Put(static_cast<char>('0' + (byte & 7)));
            } else {
                Put(c);
            }
        }
        return *this;
    }
    // The same in double quotes.
    Line& Name(std::string_view name) {
        Put('"');
        Escape(name);
        Put('"');
        return *this;
    }
    void WriteTo(int fd) {
        Put('\n');
        for (std::size_t done = 0; done < m_size;) {
            const ssize_t put = write(fd, m_buffer + done, m_size - done);
            if (put <= 0 && errno != EINTR) {
                return; // nowhere left to say it
            }
            done += put > 0 ? static_cast<std::size_t>(put) : 0;
        }
    }

private:
    void Put(char c) {
        if (m_size < sizeof m_buffer - 1) {
            m_buffer[m_size++] = c;
        }
    }
    char m_buffer[4096];
    std::size_t m_size = 0;
};

// Messages and the progress count share standard error; one lock keeps lines whole.
class Reporter {
public:
    Reporter(std::size_t total) : m_total(total), m_counting(total > 1 && TerminalCanCount()) {}

    // "cannot read "in.html": No such file or directory", or, when memory ran out,
    // "not enough memory to convert "in.html"".
    void Problem(const velmora::Failure& failure, std::string_view input) {
        Line line;
        line.Text(kProgram).Text(": ");
        if (failure.error == ENOMEM) {
            line.Text("not enough memory to convert ").Name(input);
        } else {
            line.Text(velmora::ActionText(failure.action));
            if (!failure.path.empty()) {
                line.Text(" ").Name(failure.path);
            }
            line.Text(": ").Text(failure.context);
            if (failure.error != 0) {
                line.Text(failure.context.empty() ? "" : ": ")
                    .Text(velmora::ErrorText(failure.error));
            }
        }
        Say(line);
    }
    void NoMemory(std::string_view input) {
        Line line;
        Say(line.Text(kProgram).Text(": not enough memory to convert ").Name(input));
    }
    // "in.html: the input is empty; nothing was written"
    void Note(std::string_view input, std::string_view note) {
        Line line;
        Say(line.Text(kProgram).Text(": ").Escape(input).Text(": ").Text(note));
    }
    void Finished() {
        std::lock_guard lock(m_mutex);
        ++m_done;
        ShowCount();
    }
    void End() {
        std::lock_guard lock(m_mutex);
        ClearCount();
    }

private:
    void Say(Line& line) {
        std::lock_guard lock(m_mutex);
        ClearCount();
        line.WriteTo(STDERR_FILENO);
        ShowCount();
    }
    void ShowCount() {
        if (m_counting && m_done > 0) {
            std::fprintf(stderr, "\r%zu of %zu inputs done", m_done, m_total);
            std::fflush(stderr);
        }
    }
    void ClearCount() {
        if (m_counting && m_done > 0) {
            std::fputs("\r\033[K", stderr);
        }
    }

    std::mutex m_mutex;
    std::size_t m_total;
    std::size_t m_done = 0;
    bool m_counting;
};

std::string_view ShownName(const std::string& path) {
    return path == kStdio ? std::string_view("standard input") : std::string_view(path);
}

int ConvertOne(const std::string& input, const std::string& target, Reporter& reporter) {
    const std::string_view name = ShownName(input);
    // What a conversion works in is claimed from the budget all jobs share before it
    // starts; a line longer than that is checked as it grows.
    velmora::MemoryClaim claim;
    if (!claim.Take(velmora::ConversionMemory())) {
        reporter.NoMemory(name);
        return kFailed;
    }
    velmora::Result<velmora::Conversion> conversion = velmora::Conversion::Prepare(
        input == kStdio ? velmora::Source::Stream(STDIN_FILENO, std::string(name))
                        : velmora::Source::File(input));
    if (!conversion.has_value()) {
        reporter.Problem(conversion.error(), name);
        return kFailed;
    }
    switch (conversion.value().Outcome()) {
    case velmora::SourceOutcome::Empty:
        reporter.Note(name, "the input is empty; nothing was written");
        return kEmpty;
    case velmora::SourceOutcome::Refused:
        reporter.Note(name, velmora::kRefusedMessage);
        return kRefused;
    case velmora::SourceOutcome::Accepted:
        break;
    }
    velmora::NoProgress quiet;
    const velmora::Result<void> written = conversion.value().Write(
        target == kStdio ? velmora::Destination::Stream(STDOUT_FILENO, "standard output")
                         : velmora::Destination::File(target),
        quiet);
    if (!written.has_value()) {
        reporter.Problem(written.error(), name);
        return kFailed;
    }
    return kConverted;
}

// The overall status: any failure outweighs any refusal, which outweighs an empty input.
int Combine(const std::vector<int>& statuses) {
    for (const int status : {kFailed, kRefused, kEmpty}) {
        if (std::find(statuses.begin(), statuses.end(), status) != statuses.end()) {
            return status;
        }
    }
    return kConverted;
}

int Run(const Options& options, const std::vector<std::string>& outputs) {
    Reporter reporter(options.inputs.size());
    std::vector<int> statuses(options.inputs.size(), kFailed);
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < options.inputs.size(); i = next++) {
            // Whatever runs out of memory in one input's conversion ends that input
            // alone; nothing is thrown out of a worker.
            try {
                statuses[i] = ConvertOne(options.inputs[i], outputs[i], reporter);
            } catch (const std::bad_alloc&) {
                statuses[i] = kFailed;
                reporter.NoMemory(ShownName(options.inputs[i]));
            } catch (const std::length_error&) {
                statuses[i] = kFailed;
                reporter.NoMemory(ShownName(options.inputs[i]));
            }
            reporter.Finished();
        }
    };
    const std::size_t workers = std::min<std::size_t>(options.jobs, options.inputs.size());
    {
        std::vector<std::jthread> helpers(workers > 0 ? workers - 1 : 0);
        for (std::jthread& helper : helpers) {
            if (!velmora::StartThread(helper, work)) {
                break; // no more threads to be had: those there are take all the inputs
            }
        }
        work();
    }
    reporter.End();
    return Combine(statuses);
}

#ifdef _WIN32
// The arguments as the user typed them, whatever the code page: from the UTF-16 command
// line, in UTF-8.
std::vector<std::string> WindowsArguments() {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; wide != nullptr && i < count; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string argument(static_cast<std::size_t>(std::max(size, 1)), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, argument.data(), size, nullptr, nullptr);
        argument.pop_back();
        arguments.push_back(std::move(argument));
    }
    LocalFree(wide);
    return arguments;
}
#else
// Opens /dev/null on any of descriptors 0 to 2 that the program was started without, so
// that no file the program opens takes their place and receives its messages.
bool OpenStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF &&
            open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) != fd) {
            return false;
        }
    }
    return true;
}
#endif

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The standard streams in binary mode, so that nothing adds a CR to a line.
    for (const int fd : {0, 1, 2}) {
        _setmode(fd, _O_BINARY);
    }
#else
    if (!OpenStandardDescriptors()) {
        return kFailed;
    }
    // Past a file-size limit, or into a pipe nobody reads any more, write() should fail
    // with an error we can report, not end the process halfway through a file.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
#endif
    velmora::InstallInterruptCleanup();
    try {
#ifdef _WIN32
        std::vector<std::string> arguments = WindowsArguments();
        std::vector<char*> pointers;
        for (std::string& argument : arguments) {
            pointers.push_back(argument.data());
        }
        pointers.push_back(nullptr);
        argc = static_cast<int>(arguments.size());
        argv = pointers.data();
#endif
        Options options;
        if (const std::optional<int> status = ParseArguments(argc, argv, options)) {
            return *status;
        }
        const std::vector<std::string> outputs = OutputsOf(options);
        if (const std::optional<int> status = CheckOutputs(options, outputs)) {
            return *status;
        }
        return Run(options, outputs);
    } catch (const std::bad_alloc&) {
        // Before any input is under way: the command line itself did not fit.
        Line line;
        line.Text(kProgram).Text(": not enough memory").WriteTo(STDERR_FILENO);
        return kFailed;
    } catch (const std::length_error&) {
        Line line;
        line.Text(kProgram).Text(": not enough memory").WriteTo(STDERR_FILENO);
        return kFailed;
    }
}
