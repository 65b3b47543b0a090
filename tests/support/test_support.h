#pragma once

#include "velmora/progress.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::test {

// A fresh folder under the system's temporary folder, removed with all it holds.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::string& Path() const { return m_path; }
    std::string File(std::string_view name) const { return m_path + "/" + std::string(name); }
    // Names of everything in the folder, sorted.
    std::vector<std::string> Entries() const;

private:
    std::string m_path;
};

// Paths are UTF-8 here as in the engine; the file system's own form differs on Windows.
std::filesystem::path NativePath(const std::string& utf8);
std::string Utf8(const std::filesystem::path& path);

void WriteBytes(const std::string& path, std::string_view bytes);
std::string ReadBytes(const std::string& path);

// The files a process is started with as its standard streams; "" is the null device.
struct Streams {
    std::string in, out, err;
    bool closeErr = false; // started without standard error at all
    bool closeIn = false;  // and the same for standard input and output (POSIX only)
    bool closeOut = false;
};

// Starts `words` (a program and its arguments, no shell between) in `folder`, with
// `environment` ("NAME=value") added to this process's, and waits for it: its exit
// status, 128 + the signal that ended it, or -1 when it could not be started. `typed`
// puts the arguments on a Windows command line as they are, unquoted, so that a test
// types its own quotes, or none, as a user does.
int Launch(const std::vector<std::string>& words, const std::string& folder, const Streams& io,
           const std::vector<std::string>& environment = {}, bool typed = false);

// Runs `check` with each kernel table that this machine runs in use in turn (words, SSE2,
// AVX2), given the table's name for messages; the usual table is back in use afterwards.
void ForEachKernelTable(const std::function<void(const char* name)>& check);

// Table rows run again at each shift from 1 to kMaxShift: that many filler bytes ahead
// of a row's text put it at every offset within the engine's blocks (8, 16 or 32 bytes), and
// as many behind keep it inside whole blocks, so that the block-at-a-time paths see the
// row and not only the byte-at-a-time tails.
inline constexpr std::size_t kMaxShift = 32;

// `text` with `shift` copies of `filler` ahead and kMaxShift behind; `text` itself for
// shift 0. The filler must be a byte that the rule under test passes over as it is.
std::string InFiller(std::string_view text, std::size_t shift, char filler = '.');

// `piece` `times` over.
std::string Repeat(std::string_view piece, std::size_t times);

// Whether the tests run under Wine, where starting a thread or a process costs many times
// what it does on Linux or Windows: the longest suites run a share of their cases there.
bool UnderWine();

// Keeps every progress call in order: {'M', max} or {'V', value}.
class ProgressLog final : public ProgressSink {
public:
    void SetMax(float max) override { calls.emplace_back('M', max); }
    void SetValue(float value) override { calls.emplace_back('V', value); }
    std::vector<std::pair<char, float>> calls;
};

} // namespace velmora::test

namespace velmora::test {

// Names the rows of a parameterised table by their `name` member.
struct RowName {
    template <typename Param>
    std::string operator()(const testing::TestParamInfo<Param>& row) const {
        return row.param.name;
    }
};

} // namespace velmora::test
