#include "jobs.h"

#include "reporter.h"
#include "velmora/convert.h"
#include "velmora/folders.h"
#include "velmora/output_path.h"
#include "velmora/process.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>

namespace velmora::cli {

namespace {

// The C library's descriptors of the standard streams, the same on every system.
constexpr int kStandardInput = 0;
constexpr int kStandardOutput = 1;

// The size of the file at `path` (UTF-8), where it can be told.
std::optional<std::size_t> SizeOf(const std::string& path) {
    const std::u8string name(path.begin(), path.end());
    std::error_code unknown;
    const std::uintmax_t size = std::filesystem::file_size(std::filesystem::path(name), unknown);
    return unknown ? std::nullopt : std::optional<std::size_t>(size);
}

// What an input is on disk, or in the system for a stream: "-" and "/dev/stdin" are one.
std::string InputKey(const std::string& input) {
    return input == kStdio ? StreamKey(kStandardInput) : FileKey(input);
}

// The name of the file at the end of `path`.
std::string LeafOf(const std::string& path) {
    const std::size_t slash = path.find_last_of(PathSeparators());
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string_view ShownName(const std::string& path) {
    return path == kStdio ? std::string_view("standard input") : std::string_view(path);
}

// A conversion that ran short of what the conversions beside it hold (descriptors,
// memory), not reported: it may still go through alone.
constexpr int kShort = -1;

// What a thread of its own and a small conversion on it take of the address space: the
// stack the system reserves for a thread and a little more.
constexpr std::size_t kThreadRoom = std::size_t{16} << 20;

bool ForWantOfRoom(const Failure& failure) {
    return failure.error == EMFILE || failure.error == ENFILE || failure.error == ENOMEM;
}

// What running out of memory is reported as: "not enough memory to convert ...".
const Failure kNoMemory{Action::Convert, {}, {}, ENOMEM};

// Converts `input`, making the folders `target` goes in with `makeFolders`; given `held`,
// a failure for want of room is kept there and comes back as kShort instead of being
// reported.
int ConvertOne(const std::string& input, const std::string& target, bool makeFolders,
               Reporter& reporter, std::optional<Failure>* held) {
    const std::string_view name = ShownName(input);
    // What a conversion works in is claimed from the budget all jobs share before it
    // starts; a line longer than that is checked as it grows.
    MemoryClaim claim;
    if (!claim.Take(ConversionMemory(input == kStdio ? std::nullopt : SizeOf(input)))) {
        if (held != nullptr) {
            *held = kNoMemory;
            return kShort;
        }
        reporter.NoMemory(name);
        return kFailed;
    }
    const Source source =
        input == kStdio ? Source::Stream(kStandardInput, std::string(name)) : Source::File(input);
    const Destination destination = target == kStdio
                                        ? Destination::Stream(kStandardOutput, "standard output")
                                        : Destination::File(target);
    NoProgress quiet;
    // Read once, as it is converted; but where the output's folders are still to be made,
    // the input is read through first, so that they are made only for a text that is
    // written.
    Result<SourceOutcome> converted = SourceOutcome::Empty;
    const std::string folder = makeFolders && target != kStdio ? FolderPart(target) : "";
    if (folder.empty() || IsFolder(folder)) {
        converted = Convert(source, destination, quiet);
    } else {
        Result<Conversion> conversion = Conversion::Prepare(source);
        if (!conversion.has_value()) {
            converted = conversion.error();
        } else if (conversion.value().Outcome() != SourceOutcome::Accepted) {
            converted = conversion.value().Outcome();
        } else if (const Result<void> made = MakeFolders(folder); !made.has_value()) {
            reporter.Problem(made.error(), name);
            return kFailed;
        } else if (Result<void> written = conversion.value().Write(destination, quiet);
                   !written.has_value()) {
            converted = written.error();
        } else {
            converted = SourceOutcome::Accepted;
        }
    }
    if (!converted.has_value()) {
        if (target == kStdio && converted.error().error == EPIPE) {
            EndForClosedPipe(); // as `head` leaves a filter
        }
        if (held != nullptr && ForWantOfRoom(converted.error())) {
            *held = converted.error();
            return kShort;
        }
        reporter.Problem(converted.error(), name);
        return kFailed;
    }
    switch (converted.value()) {
    case SourceOutcome::Empty:
        reporter.Note(name, "the input is empty; nothing was written");
        return kEmpty;
    case SourceOutcome::Refused:
        reporter.Note(name, kRefusedMessage);
        return kRefused;
    case SourceOutcome::Accepted:
        break;
    }
    return kConverted;
}

// Who converts when. Conversions beside one another share the process's descriptors and
// memory: one that runs short of them while others hold some is no failure of its input.
// It waits until no other conversion runs and tries once more alone, and the run goes on
// with no more conversions at once than were running when it ran short; only what fails
// alone is reported.
class Admission {
public:
    explicit Admission(std::size_t allowed) : m_allowed(allowed) {}

    // Waits for a place; what to pass to Crowded.
    std::uint64_t Enter() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_waitingAlone == 0 && m_running < m_allowed; });
        ++m_running;
        return m_ended;
    }
    void Leave() {
        {
            std::lock_guard lock(m_mutex);
            --m_running;
            ++m_ended;
        }
        m_changed.notify_all();
    }
    // Whether another conversion ran beside this one since it entered at `since`.
    bool Crowded(std::uint64_t since) {
        std::lock_guard lock(m_mutex);
        return m_running > 1 || m_ended != since;
    }
    // Leaves, and enters again once every other conversion has ended; no other starts
    // meanwhile. Leave ends the turn.
    void EnterAlone() {
        std::unique_lock lock(m_mutex);
        --m_running;
        ++m_ended;
        m_allowed = std::max<std::size_t>(1, m_running);
        ++m_waitingAlone;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_running == 0; });
        --m_waitingAlone;
        ++m_running;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_allowed;
    std::size_t m_running = 0;
    std::size_t m_waitingAlone = 0;
    std::uint64_t m_ended = 0;
};

// The overall status: any failure outweighs any refusal, which outweighs an empty input.
int Combine(const std::vector<int>& statuses) {
    for (const int status : {kFailed, kRefused, kEmpty}) {
        if (std::find(statuses.begin(), statuses.end(), status) != statuses.end()) {
            return status;
        }
    }
    return kConverted;
}

} // namespace

std::vector<std::string> OutputsOf(const Options& options) {
    std::vector<std::string> outputs;
    outputs.reserve(options.inputs.size());
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        const std::string& input = options.inputs[i];
        if (options.output) {
            outputs.push_back(*options.output);
        } else if (input == kStdio || !HasOutputBeside(input)) {
            outputs.emplace_back(kStdio);
        } else if (!options.outputFolder) {
            outputs.push_back(DefaultOutputPath(input));
        } else {
            const std::string& below = options.below[i];
            outputs.push_back(JoinPath(*options.outputFolder,
                                       DefaultOutputPath(below.empty() ? LeafOf(input) : below)));
        }
    }
    return outputs;
}

std::optional<int> CheckOutputs(const Options& options, const std::vector<std::string>& outputs) {
    // A stream named twice would be read by two jobs at once, each getting part of it;
    // a file named twice would be written twice.
    std::unordered_map<std::string, std::size_t> inputKeys;
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        const std::string key = InputKey(options.inputs[i]);
        if (key.empty()) {
            continue; // cannot be looked at: reading it will say why
        }
        // A walk may meet one file twice, through a link: each name has an output of its
        // own, and a file, unlike a stream, can be read twice. Named, it is named twice.
        const auto [first, added] = inputKeys.emplace(key, i);
        if (!added && (options.below[first->second].empty() || options.below[i].empty())) {
            return UsageError(Quoted(options.inputs[first->second]) + " and " +
                              Quoted(options.inputs[i]) +
                              " name one input twice; it can be converted only once");
        }
    }
    bool standardOutputChecked = false;
    std::unordered_map<std::string, std::size_t> outputKeys;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (outputs[i] == kStdio) {
            // Standard output on a file that is also an input would write into the
            // document while it is read.
            if (!std::exchange(standardOutputChecked, true)) {
                const auto input = inputKeys.find(StreamKey(kStandardOutput, true));
                if (input != inputKeys.end()) {
                    return UsageError("standard output is the input " +
                                      Quoted(options.inputs[input->second]) +
                                      ", which writing would destroy; name another output");
                }
            }
            continue;
        }
        const std::string key = FileKey(outputs[i]);
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
                              Quoted(outputs[i]) +
                              (options.outputFolder ? "; convert them in separate runs"
                                                    : "; convert them one at a time with -o"));
        }
    }
    return std::nullopt;
}

int Run(const Options& options, const std::vector<std::string>& outputs) {
    Reporter reporter(options.inputs.size());
    for (const Failure& failure : options.failures) {
        reporter.Problem(failure, failure.path);
    }
    std::vector<int> statuses(options.inputs.size(), kFailed);
    // Once every input is converted or reported, an interruption changes nothing.
    ExpectConversions(options.inputs.size());
    Admission admission(options.jobs);
    // Whatever runs out of memory in one input's conversion ends that input alone;
    // nothing is thrown out of a worker.
    auto attempt = [&](std::size_t i, std::optional<Failure>* held) {
        try {
            return ConvertOne(options.inputs[i], outputs[i], options.outputFolder.has_value(),
                              reporter, held);
        } catch (const std::bad_alloc&) {
        } catch (const std::length_error&) {
        }
        if (held != nullptr) {
            *held = kNoMemory;
            return kShort;
        }
        reporter.NoMemory(ShownName(options.inputs[i]));
        return static_cast<int>(kFailed);
    };
    auto convert = [&](std::size_t i) {
        // Only a file into a file is tried again: a stream is read once, and standard
        // output may have taken part of the text.
        const bool mayRetry = outputs[i] != kStdio && options.inputs[i] != kStdio &&
                              HasOutputBeside(options.inputs[i]);
        const std::uint64_t since = admission.Enter();
        std::optional<Failure> held;
        statuses[i] = attempt(i, mayRetry ? &held : nullptr);
        if (statuses[i] == kShort && admission.Crowded(since)) {
            admission.EnterAlone();
            statuses[i] = attempt(i, nullptr);
        } else if (statuses[i] == kShort) { // it was alone: the failure is its own
            reporter.Problem(*held, ShownName(options.inputs[i]));
            statuses[i] = kFailed;
        }
        if (statuses[i] != kConverted) {
            ConversionEndedWithoutOutput();
        }
        admission.Leave();
        reporter.Finished();
    };
    // The texts bound for standard output are written whole, one after another in the
    // order of their inputs, as cat writes its files: one job takes them all in turn, first,
    // while the others convert the rest.
    std::vector<std::size_t> streamed;
    std::vector<std::size_t> tasks;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        (outputs[i] == kStdio ? streamed : tasks).push_back(i);
    }
    const std::size_t lanes = streamed.empty() ? 0 : 1;
    const std::size_t taskCount = tasks.size() + lanes;
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t t = next++; t < taskCount; t = next++) {
            if (t < lanes) {
                std::for_each(streamed.begin(), streamed.end(), convert);
            } else {
                convert(tasks[t - lanes]);
            }
        }
    };
    const std::size_t workers = std::min<std::size_t>(options.jobs, taskCount);
    {
        std::vector<std::jthread> helpers(workers > 0 ? workers - 1 : 0);
        for (std::jthread& helper : helpers) {
            // A thread's stack is taken from the room the conversions draw on too (under
            // ulimit -v): no more threads than leave each the room of a conversion.
            if (MemoryBudget::Shared().Room() < kThreadRoom || !StartThread(helper, work)) {
                break; // no more threads to be had: those there are take all the inputs
            }
        }
        work();
    }
    reporter.End();
    if (!options.walked.empty()) {
        auto count = [&](int status) {
            return std::to_string(std::count(statuses.begin(), statuses.end(), status));
        };
        Line line;
        line.Text(kProgram).Text(": ").Text(count(kConverted)).Text(" converted, ");
        line.Text(count(kRefused)).Text(" refused, ").Text(count(kEmpty)).Text(" empty, ");
        line.Text(std::to_string(std::count(statuses.begin(), statuses.end(), kFailed) +
                                 static_cast<std::ptrdiff_t>(options.failures.size())))
            .Text(" failed, ");
        line.Text(std::to_string(options.passedOver)).Text(" passed over").Say();
    }
    return options.failures.empty() ? Combine(statuses) : kFailed;
}

} // namespace velmora::cli
