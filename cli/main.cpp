// velmora-convert: the converter for scripts and terminals. Arguments in, engine
// called, one line per problem on standard error, an exit status that tells a script
// what happened.

#include "jobs.h"
#include "options.h"
#include "reporter.h"
#include "velmora/process.h"

#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace velmora::cli;

int Main(int argc, char** argv) {
    const std::optional<std::vector<velmora::Argument>> arguments =
        velmora::StartProcess(velmora::Program::CommandLine, argc, argv);
    if (!arguments) {
        return kFailed;
    }
    Options options;
    if (const std::optional<int> status = ParseArguments(*arguments, options)) {
        return *status;
    }
    const std::vector<std::string> outputs = OutputsOf(options);
    if (const std::optional<int> status = CheckOutputs(options, outputs)) {
        return *status;
    }
    return Run(options, outputs);
}

// Before any input is under way: the command line itself did not fit.
int NoMemory() {
    Line line;
    line.Text(kProgram).Text(": not enough memory").Say();
    return kFailed;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Main(argc, argv);
    } catch (const std::bad_alloc&) {
        return NoMemory();
    } catch (const std::length_error&) {
        return NoMemory();
    }
}
