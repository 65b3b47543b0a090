#include "jobs.h"

#include "reporter.h"
#include "velmora/convert.h"
#include "velmora/output_path.h"
#include "velmora/process.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <unordered_map>

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

std::string_view ShownName(const std::string& path) {
    return path == kStdio ? std::string_view("standard input") : std::string_view(path);
}

int ConvertOne(const std::string& input, const std::string& target, Reporter& reporter) {
    const std::string_view name = ShownName(input);
    // What a conversion works in is claimed from the budget all jobs share before it
    // starts; a line longer than that is checked as it grows.
    MemoryClaim claim;
    if (!claim.Take(ConversionMemory(input == kStdio ? std::nullopt : SizeOf(input)))) {
        reporter.NoMemory(name);
        return kFailed;
    }
    Result<Conversion> conversion = Conversion::Prepare(
        input == kStdio ? Source::Stream(kStandardInput, std::string(name)) : Source::File(input));
    if (!conversion.has_value()) {
        reporter.Problem(conversion.error(), name);
        return kFailed;
    }
    switch (conversion.value().Outcome()) {
    case SourceOutcome::Empty:
        reporter.Note(name, "the input is empty; nothing was written");
        return kEmpty;
    case SourceOutcome::Refused:
        reporter.Note(name, kRefusedMessage);
        return kRefused;
    case SourceOutcome::Accepted:
        break;
    }
    NoProgress quiet;
    const Result<void> written = conversion.value().Write(
        target == kStdio ? Destination::Stream(kStandardOutput, "standard output")
                         : Destination::File(target),
        quiet);
    if (!written.has_value()) {
        if (target == kStdio && written.error().error == EPIPE) {
            EndForClosedPipe(); // as `head` leaves a filter
        }
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

} // namespace

std::vector<std::string> OutputsOf(const Options& options) {
    std::vector<std::string> outputs;
    outputs.reserve(options.inputs.size());
    for (const std::string& input : options.inputs) {
        outputs.push_back(options.output                               ? *options.output
                          : input == kStdio || !HasOutputBeside(input) ? std::string(kStdio)
                                                                       : DefaultOutputPath(input));
    }
    return outputs;
}

std::optional<int> CheckOutputs(const Options& options, const std::vector<std::string>& outputs) {
    std::unordered_map<std::string, std::size_t> inputKeys;
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        if (options.inputs[i] != kStdio) {
            inputKeys.emplace(FileKey(options.inputs[i]), i);
        }
    }
    std::unordered_map<std::string, std::size_t> outputKeys;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (outputs[i] == kStdio) {
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
                              Quoted(outputs[i]) + "; convert them one at a time with -o");
        }
    }
    return std::nullopt;
}

int Run(const Options& options, const std::vector<std::string>& outputs) {
    Reporter reporter(options.inputs.size());
    std::vector<int> statuses(options.inputs.size(), kFailed);
    // Once every input is converted or reported, an interruption changes nothing.
    ExpectConversions(options.inputs.size());
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
            if (statuses[i] != kConverted) {
                ConversionEndedWithoutOutput();
            }
            reporter.Finished();
        }
    };
    const std::size_t workers = std::min<std::size_t>(options.jobs, options.inputs.size());
    {
        std::vector<std::jthread> helpers(workers > 0 ? workers - 1 : 0);
        for (std::jthread& helper : helpers) {
            if (!StartThread(helper, work)) {
                break; // no more threads to be had: those there are take all the inputs
            }
        }
        work();
    }
    reporter.End();
    return Combine(statuses);
}

} // namespace velmora::cli
