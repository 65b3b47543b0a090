#include "options.h"

#include "reporter.h"
#include "velmora/folders.h"
#include "velmora/output_path.h"
#include "velmora/process.h"
#include "velmora/version.h"
#include "velmora/wildcards.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>
#include <unordered_map>

namespace velmora::cli {

namespace {

#ifdef _WIN32
// Windows' shells leave wildcards to the program, and its own tools answer "/?".
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// Every line fits a standard console of 80 columns, which wraps a line of 80 itself.
constexpr const char* kUsageHead =
    "Usage: velmora-convert [OPTION]... INPUT...\n"
    "Convert HTML documents written as nested definition lists into indented text.\n"
    "\n"
    "Each INPUT is written beside itself with its extension replaced by \"txt\"\n"
    "(report.html -> report.txt); an INPUT that already ends in \".txt\" needs -o.\n"
    "An INPUT of \"-\" reads standard input and, without -o, writes standard output.\n"
    "With -r, an INPUT that is a folder stands for every .html and .htm file in it\n"
    "and in the folders below it.\n";
constexpr const char* kUsageWildcards =
    "The wildcards * and ? in an INPUT typed without quotes stand for the files\n"
    "they match, as in data\\*\\*.htm.\n";
constexpr const char* kUsageOptions =
    "\n"
    "  -o, --output=FILE  write the one INPUT to FILE (\"-\" for standard output)\n"
    "  -O, --output-dir=DIR\n"
    "                     write each output under DIR: at its path below the folder\n"
    "                     it was found in with -r, else by its file name alone\n"
    "  -r, --recursive    convert the documents in the folders named, and below them\n"
    "  -j, --jobs=N       convert up to N inputs at once (default: one per core)\n";
constexpr const char* kUsageHelp = "      --help         show this help and exit\n";
constexpr const char* kUsageSlashHelp = "      --help, /?     show this help and exit\n";
constexpr const char* kUsageTail =
    "      --version      show the version and exit\n"
    "\n"
    "Options may stand before or after the inputs; \"--\" ends them.\n"
    "\n"
    "Exit status:\n"
    "  0  every input was converted\n"
    "  1  some input could not be read, converted or written\n"
    "  3  none failed, but some input was refused (a ZOAK metadata report)\n"
    "  4  none failed or was refused, but some input was empty (no text for it)\n"
    "  2  the command line was wrong\n";

std::string UsageText() {
    return std::string(kUsageHead) + (kWindows ? kUsageWildcards : "") + kUsageOptions +
           (kWindows ? kUsageSlashHelp : kUsageHelp) + kUsageTail;
}

// Prints `text` on standard output and says whether it got there: help asked for with
// standard output on a full disk has not been given.
int PrintAndExit(const std::string& text) {
    const int error = StartedWithout(1) ? EBADF : WriteToStandardOutput(text);
    if (error == EPIPE) {
        EndForClosedPipe();
    }
    if (error != 0) {
        WriteToStandardError(std::string(kProgram) +
                             ": cannot write standard output: " + ErrorText(error) + "\n");
        return kFailed;
    }
    return kConverted;
}

std::optional<int> Help() {
    return PrintAndExit(UsageText());
}

struct LongOption {
    std::string_view name;
    char key;
    bool takesValue;
    // The shortest abbreviation taken: "--out" was --output's before --output-dir came.
    std::size_t shortest = 1;
};
constexpr char kHelpKey = 'h';
constexpr char kVersionKey = 'V';
constexpr LongOption kLongOptions[] = {{"output", 'o', true},     {"output-dir", 'O', true, 7},
                                       {"recursive", 'r', false}, {"jobs", 'j', true},
                                       {"help", kHelpKey, false}, {"version", kVersionKey, false}};

// The long option `name` stands for: its own, or the one it is an abbreviation of.
std::optional<LongOption> FindLongOption(std::string_view name, std::string& problem) {
    std::optional<LongOption> found;
    for (const LongOption& option : kLongOptions) {
        if (option.name == name) {
            return option;
        }
        if (name.size() >= option.shortest && option.name.starts_with(name)) {
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

// Takes the value of -o or -O, each given once and never empty.
std::optional<int> TakeName(std::optional<std::string>& into, const char* once, const char* what,
                            const std::string& shown, const char* value) {
    if (into) {
        return UsageError(std::string(once) + ", but was given twice");
    }
    if (*value == '\0') {
        return UsageError("the " + std::string(what) + " name (" + shown + ") is empty");
    }
    into = value;
    return std::nullopt;
}

// Takes one option with its value (nullptr for none); returns an exit status when the
// program should stop at once (help, version, a usage error).
std::optional<int> TakeOption(char key, const std::string& shown, const char* value,
                              Options& options) {
    switch (key) {
    case 'o':
        return TakeName(options.output, "-o names one output", "output file", shown, value);
    case 'O':
        return TakeName(options.outputFolder, "-O names one output folder", "output folder", shown,
                        value);
    case 'r':
        options.recursive = true;
        return std::nullopt;
    case 'j': {
        char* end = nullptr;
        errno = 0;
        const long jobs = std::strtol(value, &end, 10);
        // Digits alone: strtol would also take a sign and leading blanks.
        if (*value < '0' || *value > '9' || *end != '\0' || errno != 0 || jobs < 1 || jobs > 1024) {
            return UsageError(shown + " wants a number of jobs from 1 to 1024, not '" +
                              Escaped(value) + "'");
        }
        options.jobs = static_cast<unsigned>(jobs);
        return std::nullopt;
    }
    case kHelpKey:
        return Help();
    case kVersionKey:
        return PrintAndExit(std::string(kProgram) + " " + velmora::kVersion + "\n");
    }
    // Only the keys above are passed: those of kLongOptions and the short options that
    // ParseArguments lets through.
    assert(false);
    return UsageError("unknown option '" + Escaped(shown) + "'");
}

// Adds the inputs one argument names: itself, the files a wildcard matches, the
// documents in a folder with -r. A folder without -r fails, saying how to convert it.
void FindInputs(const Argument& argument, Options& options) {
    std::vector<std::string> paths{argument.text};
    if (argument.pattern) {
        Result<std::vector<std::string>> matches =
            ExpandWildcards(argument.text, options.recursive);
        if (!matches.has_value()) {
            options.failures.push_back(std::move(matches.error()));
            return;
        }
        paths = std::move(*matches);
    }
    for (std::string& path : paths) {
        if (path == kStdio || !IsFolder(path)) {
            options.inputs.push_back(std::move(path));
            options.below.emplace_back();
        } else if (!options.recursive) {
            options.failures.push_back(
                {Action::Read, path, "it is a folder; -r converts the documents in it", 0});
        } else {
            FolderWalk walk;
            WalkFolder(path, walk);
            for (FoundDocument& document : walk.documents) {
                options.inputs.push_back(std::move(document.path));
                options.below.push_back(std::move(document.below));
            }
            options.failures.insert(options.failures.end(), walk.failures.begin(),
                                    walk.failures.end());
            options.passedOver += walk.passedOver;
            options.walked.push_back(std::move(path));
        }
    }
}

} // namespace

int UsageError(const std::string& message) {
    WriteToStandardError(std::string(kProgram) + ": " + message + "\nTry '" + kProgram +
                         " --help' for more information.\n");
    return kUsage;
}

std::optional<int> ParseArguments(const std::vector<Argument>& arguments, Options& options) {
    const std::size_t argc = arguments.size();
    bool optionsEnded = false;
    // The inputs as typed: what a wildcard matches, and what a folder holds, depends on
    // -r wherever it stands.
    std::vector<const Argument*> named;
    for (std::size_t i = 1; i < argc; ++i) {
        const std::string_view arg = arguments[i].text;
        if (kWindows && !optionsEnded && arg == "/?") {
            return Help();
        }
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (arg.empty()) {
                return UsageError("an input file name is empty");
            }
            named.push_back(&arguments[i]);
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
                // "--=x" names no option at all: it is shown whole, as getopt does.
                return UsageError(name.empty() ? "unknown option '" + Escaped(arg) + "'" : problem);
            }
            const std::string shown = "--" + std::string(option->name);
            const char* value = nullptr;
            if (equals != std::string_view::npos) {
                if (!option->takesValue) {
                    return UsageError("option '" + shown + "' takes no value");
                }
                value = arguments[i].text.c_str() + equals + 1;
            } else if (option->takesValue) {
                if (i + 1 == argc) {
                    return UsageError("option '" + shown + "' needs a value");
                }
                value = arguments[++i].text.c_str();
            }
            if (const std::optional<int> stop = TakeOption(option->key, shown, value, options)) {
                return stop;
            }
            continue;
        }
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const char key = arg[k];
            const std::string shown = std::string("-") + key;
            if (key == 'r') {
                options.recursive = true;
                continue;
            }
            if (key != 'o' && key != 'O' && key != 'j') {
                return UsageError("unknown option '" + Escaped(shown) + "'");
            }
            const char* value = arguments[i].text.c_str() + k + 1;
            if (k + 1 == arg.size()) {
                if (i + 1 == argc) {
                    return UsageError("option '" + shown + "' needs a value");
                }
                value = arguments[++i].text.c_str();
            }
            if (const std::optional<int> stop = TakeOption(key, shown, value, options)) {
                return stop;
            }
            break;
        }
    }
    if (options.output && options.outputFolder) {
        return UsageError("-o names one output and -O a folder for them all; give one of them");
    }
    if (named.empty()) {
        return UsageError("no input named");
    }
    if (options.outputFolder) {
        options.outputFolder = SettledFolder(*options.outputFolder);
    }
    for (const Argument* argument : named) {
        FindInputs(*argument, options);
    }
    std::unordered_map<std::string, const std::string*> walkedKeys;
    for (const std::string& folder : options.walked) {
        if (options.outputFolder && HoldsFolder(folder, *options.outputFolder)) {
            return UsageError("the output folder " + Quoted(*options.outputFolder) + " lies in " +
                              Quoted(folder) + ", which is converted; name one outside it");
        }
        const auto [first, added] = walkedKeys.emplace(FileKey(folder), &folder);
        if (!added && !first->first.empty()) {
            return UsageError(Quoted(*first->second) + " and " + Quoted(folder) +
                              " name one folder twice; it can be converted only once");
        }
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

} // namespace velmora::cli
