// Every call velmora-convert makes to the system, and every allocation, made to fail in
// turn, once and from then on: each run must end as a careful program would. A fault that
// such a program retries (an interrupted or short read or write) changes nothing; any
// other leaves the earlier output byte for byte, nothing stray beside it, and one line
// naming the file and the reason.

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#ifdef __linux__
#include <sys/xattr.h>
#endif

namespace velmora {
namespace {

constexpr const char* kOld = "the earlier output\n";

struct Run {
    int status = -1;
    std::string err;
};

// Runs the sweep's velmora-convert in `folder` with `args`, and `env` added to the
// environment; standard error is kept in `errFile`.
Run Convert(const std::string& folder, const std::vector<std::string>& args,
            const std::vector<std::string>& env, const std::string& errFile) {
    std::vector<std::string> words{VELMORA_CONVERT_FAULTS};
    words.insert(words.end(), args.begin(), args.end());
    Run run;
    // A crash or an abort shows as a status no careful exit gives.
    run.status = test::Launch(words, folder, {"", "", errFile}, env);
    run.err = test::ReadBytes(errFile);
    return run;
}

struct Scenario {
    std::string name;
    std::vector<std::pair<std::string, std::string>> inputs; // file name, text
    bool oldOutputs;
    // Every replacement refused as of a file no one may replace (EPERM from the last call
    // that puts it in place), so that what is asked then is failed in turn too.
    bool refused = false;
};

// The places to fail a kind of call at: all of them in the full sweep, in the short one
// the first few and an even spread of the rest; half as many under Wine, where a process
// takes many times longer to start (the same code meets every place on Linux).
std::vector<unsigned long> Places(unsigned long count) {
    static const bool full = std::getenv("VELMORA_FULL_SWEEP") != nullptr;
    static const unsigned long spread = test::UnderWine() ? 4 : 8;
    std::vector<unsigned long> places;
    const unsigned long step = full || count <= 2 * spread ? 1 : count / spread;
    for (unsigned long n = 1; n <= count; n += (n <= spread ? 1 : step)) {
        places.push_back(n);
    }
    if (!places.empty() && places.back() != count) {
        places.push_back(count);
    }
    return places;
}

class Sweep {
public:
    explicit Sweep(const Scenario& scenario) : m_scenario(scenario) {
        for (const auto& [name, text] : scenario.inputs) {
            m_args.push_back(name);
            m_outputs.push_back(name.substr(0, name.rfind('.')) + ".txt");
        }
        if (m_args.size() > 1) {
            m_args.insert(m_args.begin(), "-j2");
        }
        // What each output becomes when nothing goes wrong, and how many calls of each
        // kind getting there takes.
        Count({});
        for (const std::string& output : m_outputs) {
            m_expected.push_back(test::ReadBytes(m_dir.File(output)));
        }
        if (scenario.refused) {
            m_base = "place:" + std::to_string(m_counts["place"]) + ":" + std::to_string(EPERM);
            Count({"VELMORA_FAULT=" + m_base});
        }
    }

    const std::map<std::string, unsigned long>& Counts() const { return m_counts; }

    // One run with `fault` (VELMORA_FAULT's or VELMORA_FAIL_ALLOC's setting); `retried`
    // faults must change nothing.
    void Case(std::string fault, bool retried) {
        Reset();
        if (!m_base.empty()) {
            fault = fault.starts_with("VELMORA_FAULT=") ? fault + "," + m_base
                                                        : fault + "\nVELMORA_FAULT=" + m_base;
        }
        std::vector<std::string> env;
        for (std::size_t at = 0, end = 0; at < fault.size(); at = end + 1) {
            end = std::min(fault.find('\n', at), fault.size());
            env.push_back(fault.substr(at, end - at));
        }
        const Run run = Convert(m_dir.Path(), m_args, env, m_io.File("err"));
        ++m_cases;
        const std::string where = m_scenario.name + " with " + env.front();
        if (retried && m_base.empty()) {
            EXPECT_EQ(run.status, 0) << where << ": " << run.err;
        } else {
            EXPECT_TRUE(run.status == 0 || run.status == 1)
                << where << ": status " << run.status << ", " << run.err;
        }
        std::set<std::string> allowed(m_outputs.begin(), m_outputs.end());
        std::size_t unconverted = 0;
        for (std::size_t i = 0; i < m_outputs.size(); ++i) {
            allowed.insert(m_scenario.inputs[i].first);
            const std::string path = m_dir.File(m_outputs[i]);
            const bool exists = std::filesystem::exists(test::NativePath(path));
            const std::string output = exists ? test::ReadBytes(path) : "";
            if (exists && output == m_expected[i]) {
                continue;
            }
            ++unconverted;
            // Not converted: the earlier output stands as it was, or there still is none.
            EXPECT_EQ(exists, m_scenario.oldOutputs) << where << ": " << m_outputs[i];
            if (exists) {
                EXPECT_EQ(output, kOld) << where << ": " << m_outputs[i] << " torn";
            }
        }
        // A temporary whose removal was failed stays behind, and the next run in its
        // folder removes it once this process is gone.
        std::vector<std::string> entries = m_dir.Entries();
        if (fault.starts_with("VELMORA_FAULT=remove:") &&
            std::any_of(entries.begin(), entries.end(),
                        [](const std::string& entry) { return entry.starts_with(".velmora-"); })) {
            Convert(m_dir.Path(), {m_scenario.inputs[0].first, "-o", "later.txt"}, {},
                    m_io.File("later"));
            std::remove(m_dir.File("later.txt").c_str());
            entries = m_dir.Entries();
#ifdef _WIN32
            // Wine gives the next process the number of the one just ended, and a name
            // whose process number is taken again is left alone, as it must be.
            std::erase_if(entries,
                          [](const std::string& entry) { return entry.starts_with(".velmora-"); });
#endif
        }
        for (const std::string& entry : entries) {
            EXPECT_TRUE(allowed.count(entry) == 1) << where << ": left behind: " << entry;
        }
        // One line for each input that was not converted, naming it and the reason; or,
        // when memory ran out before any input was under way, one line that says so.
        std::istringstream lines(run.err);
        std::size_t said = 0;
        for (std::string line; std::getline(lines, line); ++said) {
            if (line == "velmora-convert: not enough memory") {
                said += m_outputs.size() - 1;
                continue;
            }
            EXPECT_TRUE(line.rfind("velmora-convert: ", 0) == 0 &&
                        std::count(line.begin(), line.end(), '"') >= 2)
                << where << ": " << line;
        }
        EXPECT_EQ(said, unconverted) << where << ": " << run.err;
        EXPECT_EQ(run.status == 0, unconverted == 0) << where << ": " << run.err;
    }

    int Cases() const {
        return m_cases;
    }

private:
    // A run with `env` that counts the calls of each kind it makes.
    void Count(std::vector<std::string> env) {
        Reset();
        const std::string counts = m_io.File("counts");
        std::remove(counts.c_str());
        env.push_back("VELMORA_FAULT_COUNTS=" + counts);
        const Run run = Convert(m_dir.Path(), m_args, env, m_io.File("err"));
        EXPECT_EQ(run.status, env.size() > 1 ? 1 : 0) << run.err;
        std::istringstream lines(test::ReadBytes(counts));
        std::string kind;
        unsigned long count = 0;
        while (lines >> kind >> count) {
            m_counts[kind] = count;
        }
    }

    // The inputs as the scenario has them, with or without earlier outputs.
    void Reset() {
        for (const std::string& entry : m_dir.Entries()) {
            std::remove(m_dir.File(entry).c_str());
        }
        for (const auto& [name, text] : m_scenario.inputs) {
            test::WriteBytes(m_dir.File(name), text);
        }
        if (m_scenario.oldOutputs) {
            for (const std::string& output : m_outputs) {
                test::WriteBytes(m_dir.File(output), kOld);
#ifdef __linux__
                // An attribute to keep, where the file system takes one, so that the calls
                // that copy it are failed in turn too.
                setxattr(m_dir.File(output).c_str(), "user.velmora", "kept", 4, 0);
#endif
            }
        }
    }

    const Scenario& m_scenario;
    test::TempDir m_dir;
    test::TempDir m_io;
    std::vector<std::string> m_args;
    std::vector<std::string> m_outputs;
    std::vector<std::string> m_expected;
    std::map<std::string, unsigned long> m_counts;
    std::string m_base; // a fault in every case
    int m_cases = 0;
};

using test::Repeat;

TEST(FaultSweep, EveryCallAndAllocationFailingInTurnIsSurvived) {
    const std::string small = "<dl><dt>Title</dt><dd>Value &gt; 1</dd></dl>";
    // Large enough to be assembled on a second thread.
    const std::string large =
        "<dl>" +
        Repeat("<dt>Term of an entry</dt>\n<dd><p>Its value,\n  in a few words</dd>\n", 80000) +
        "</dl>";
    const std::string deep = Repeat("<dl>", 300) + Repeat("<dt>ab", 300);
    std::vector<Scenario> scenarios;
    for (const bool old : {false, true}) {
        const std::string state = old ? " over an earlier output" : "";
        scenarios.push_back({"small" + state, {{"a.html", small}}, old});
        scenarios.push_back({"large" + state, {{"a.html", large}}, old});
        scenarios.push_back({"deep" + state, {{"a.html", deep}}, old});
        scenarios.push_back({"a batch" + state, {{"a.html", deep}, {"b.html", small}}, old});
    }
    scenarios.push_back(
        {"small over an output no one may replace", {{"a.html", small}}, true, true});
    // The error each kind of call fails with.
    const std::map<std::string, int> errors{
        {"open", EACCES},   {"create", ENOSPC},    {"read", EIO},      {"write", ENOSPC},
        {"flush", EIO},     {"place", EACCES},     {"close", EIO},     {"stat", EACCES},
        {"remove", EACCES}, {"memory", EIO},       {"thread", EAGAIN}, {"seek", EIO},
        {"owner", EPERM},   {"attributes", EACCES}};
    int cases = 0;
    std::set<std::string> reached;
    for (const Scenario& scenario : scenarios) {
        Sweep sweep(scenario);
        for (const auto& [kind, count] : sweep.Counts()) {
            if (count > 0) {
                reached.insert(kind);
            }
            for (const unsigned long n : Places(count)) {
                const std::string at = kind + ":" + std::to_string(n) + ":";
                if (kind == "alloc") {
                    sweep.Case("VELMORA_FAIL_ALLOC=" + std::to_string(n), false);
                    sweep.Case("VELMORA_FAIL_ALLOC=" + std::to_string(n) + ":persistent", false);
                    continue;
                }
                const std::string error = std::to_string(errors.at(kind));
                sweep.Case("VELMORA_FAULT=" + at + error, false);
                sweep.Case("VELMORA_FAULT=" + at + error + ":persistent", false);
                if (kind == "read" || kind == "write") {
                    sweep.Case("VELMORA_FAULT=" + at + std::to_string(EINTR), true);
                    sweep.Case("VELMORA_FAULT=" + at + "0:persistent", true); // all short
                }
                if (kind == "read") { // the file seen to end there, as if it had shrunk
                    sweep.Case("VELMORA_FAULT=" + at + "0:ends", false);
                }
            }
        }
        cases += sweep.Cases();
    }
    // A call that bypasses the seam is never counted, and so never failed.
    for (const auto& [kind, error] : errors) {
#ifdef _WIN32
        if (kind == "owner") { // a file's owner and mode are POSIX's
            continue;
        }
#endif
        EXPECT_EQ(reached.count(kind), 1u) << kind << " calls are made outside the fault seam";
    }
    std::printf("fault sweep: %d cases over %zu scenarios\n", cases, scenarios.size());
}

} // namespace
} // namespace velmora
