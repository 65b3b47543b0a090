// velmora-convert: the converter for scripts and terminals. Arguments in, engine
// called, one line per problem on standard error, an exit status that tells a script
// what happened.

#include "engine/assemble.h"
#include "engine/convert.h"
#include "engine/output_path.h"
#include "engine/source.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <getopt.h>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

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

int UsageError(const std::string& message) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram,
                 message.c_str(), kProgram);
    return kUsage;
}

// Parses the command line into `options`; returns an exit status when the program
// should stop at once (help, version, a usage error).
std::optional<int> ParseArguments(int argc, char** argv, Options& options) {
    enum { kHelp = 256, kVersion };
    const option longOptions[] = {
        {"output", required_argument, nullptr, 'o'}, {"jobs", required_argument, nullptr, 'j'},
        {"help", no_argument, nullptr, kHelp},       {"version", no_argument, nullptr, kVersion},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int option = 0;
    while ((option = getopt_long(argc, argv, ":o:j:", longOptions, nullptr)) != -1) {
        switch (option) {
        case 'o':
            options.output = optarg;
            break;
        case 'j': {
            char* end = nullptr;
            const long jobs = std::strtol(optarg, &end, 10);
            if (*optarg == '\0' || *end != '\0' || jobs < 1 || jobs > 1024) {
                return UsageError(std::string("-j wants a number of jobs from 1 to 1024, not '") +
                                  optarg + "'");
            }
            options.jobs = static_cast<unsigned>(jobs);
            break;
        }
        case kHelp:
            std::fputs(kUsageText, stdout);
            return kConverted;
        case kVersion:
            std::puts("velmora-convert 1.0");
            return kConverted;
        case ':':
            return UsageError(std::string("option '") + argv[optind - 1] + "' needs a value");
        default:
            return UsageError(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    for (int i = optind; i < argc; ++i) {
        options.inputs.emplace_back(argv[i]);
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

// Messages and the progress count share standard error; one lock keeps lines whole.
class Reporter {
public:
    Reporter(std::size_t total) : m_total(total), m_counting(total > 1 && isatty(STDERR_FILENO)) {}

    void Problem(const std::string& line) {
        std::lock_guard lock(m_mutex);
        ClearCount();
        std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
        ShowCount();
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

std::string ShownName(const std::string& path) {
    return path == kStdio ? "standard input" : path;
}

int ConvertOne(const std::string& input, const std::optional<std::string>& output,
               Reporter& reporter) {
    const std::string target =
        output ? *output : (input == kStdio ? std::string(kStdio) : velmora::ProposeOutputPath(input));
    if (!output && input != kStdio && target == input) {
        reporter.Problem(velmora::Describe(
            {"cannot write", target, "the output would replace the input; name another with -o"}));
        return kFailed;
    }
    velmora::Result<std::string> text = input == kStdio
                                            ? velmora::ReadSourceStream(STDIN_FILENO, ShownName(input))
                                            : velmora::ReadSourceFile(input);
    if (!text.Ok()) {
        reporter.Problem(velmora::Describe(text.GetFailure()));
        return kFailed;
    }
    std::string converted;
    velmora::NoProgress quiet;
    velmora::Result<velmora::SourceOutcome> outcome =
        velmora::ConvertText(std::move(text.Value()), converted, quiet);
    if (!outcome.Ok()) {
        velmora::Failure failure = outcome.GetFailure();
        failure.path = ShownName(input);
        reporter.Problem(velmora::Describe(failure));
        return kFailed;
    }
    switch (outcome.Value()) {
    case velmora::SourceOutcome::Empty:
        reporter.Problem(ShownName(input) + ": the input is empty; nothing was written");
        return kEmpty;
    case velmora::SourceOutcome::Refused:
        reporter.Problem(ShownName(input) + ": " + velmora::kRefusedMessage);
        return kRefused;
    case velmora::SourceOutcome::Accepted:
        break;
    }
    const velmora::Result<void> written =
        target == kStdio ? velmora::WriteOutputStream(STDOUT_FILENO, converted, "standard output")
                         : velmora::WriteOutputFile(target, converted);
    if (!written.Ok()) {
        reporter.Problem(velmora::Describe(written.GetFailure()));
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

int Run(const Options& options) {
    Reporter reporter(options.inputs.size());
    std::vector<int> statuses(options.inputs.size(), kFailed);
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < options.inputs.size(); i = next++) {
            statuses[i] = ConvertOne(options.inputs[i], options.output, reporter);
            reporter.Finished();
        }
    };
    const std::size_t workers = std::min<std::size_t>(options.jobs, options.inputs.size());
    {
        std::vector<std::jthread> helpers;
        for (std::size_t i = 1; i < workers; ++i) {
            helpers.emplace_back(work);
        }
        work();
    }
    reporter.End();
    return Combine(statuses);
}

} // namespace

int main(int argc, char** argv) {
    // Past a file-size limit, write() should fail with an error we can report, not
    // end the process halfway through a file.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        Options options;
        if (const std::optional<int> status = ParseArguments(argc, argv, options)) {
            return *status;
        }
        return Run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
        return kFailed;
    }
}
