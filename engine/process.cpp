#include "velmora/process.h"

#include "faults.h"
#include "system.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <utility>

namespace velmora {

namespace {

std::mutex g_mutex;
std::condition_variable g_released;
std::size_t g_claimed = 0;

} // namespace

std::optional<std::vector<Argument>> StartProcess(Program program, int argc, char** argv) {
    std::vector<Argument> arguments;
    if (!sys::StartProcess(program == Program::CommandLine, argc, argv, arguments)) {
        return std::nullopt;
    }
    return arguments;
}

Terminal ErrorTerminal() {
    return sys::ErrorTerminal();
}

void WriteToStandardError(std::string_view bytes) {
    sys::WriteToStandardStream(2, bytes); // nowhere left to say that it failed
}

int WriteToStandardOutput(std::string_view bytes) {
    return sys::WriteToStandardStream(1, bytes);
}

bool DesktopAlwaysThere() {
    return sys::DesktopAlwaysThere();
}

bool StartedWithout(int descriptor) {
    return sys::StartedWithout(descriptor);
}

void EndForClosedPipe() {
    sys::EndForClosedPipe();
}

void InstallInterruptCleanup() {
    sys::InstallInterruptCleanup();
}

void ExpectConversions(std::size_t count) {
    sys::ExpectConversions(count);
}

void ConversionEndedWithoutOutput() {
    sys::ConversionSettled();
}

std::size_t AvailableMemory() {
    return sys::AvailableMemory();
}

bool StartThread(std::jthread& thread, std::function<void()> body) {
    if (sys::Inject(sys::Call::ThreadStart) != 0) {
        return false;
    }
    try {
        thread = std::jthread(std::move(body));
        return true;
    } catch (const std::system_error&) {
        return false;
    } catch (const std::bad_alloc&) { // no memory for the thread's stack or its state
        return false;
    }
}

std::size_t ConversionMemory(std::optional<std::size_t> inputBytes) {
    // The buffers of the two readings and of the assembly, which a document smaller than
    // one piece of reading never fills.
    constexpr std::size_t kMost = std::size_t{4} << 20;
    constexpr std::size_t kLeast = std::size_t{1} << 20;
    if (!inputBytes || *inputBytes >= kMost / 4) {
        return kMost;
    }
    return std::max(kLeast, *inputBytes * 4);
}

MemoryBudget& MemoryBudget::Shared() {
    static MemoryBudget budget;
    return budget;
}

bool MemoryBudget::Claim(std::size_t bytes) {
    std::unique_lock lock(g_mutex);
    for (;;) {
        const std::size_t available = AvailableMemory();
        if (bytes <= available && g_claimed <= available - bytes) {
            g_claimed += bytes;
            return true;
        }
        if (g_claimed == 0) { // nothing else will be given back
            return false;
        }
        g_released.wait(lock);
    }
}

void MemoryBudget::Release(std::size_t bytes) {
    {
        std::lock_guard lock(g_mutex);
        g_claimed -= std::min(bytes, g_claimed);
    }
    g_released.notify_all();
}

std::size_t MemoryBudget::Room() {
    std::lock_guard lock(g_mutex);
    const std::size_t available = AvailableMemory();
    return available > g_claimed ? available - g_claimed : 0;
}

bool MemoryClaim::Take(std::size_t bytes) {
    Drop();
    if (!MemoryBudget::Shared().Claim(bytes)) {
        return false;
    }
    m_bytes = bytes;
    return true;
}

void MemoryClaim::Drop() {
    if (m_bytes > 0) {
        MemoryBudget::Shared().Release(m_bytes);
        m_bytes = 0;
    }
}

} // namespace velmora
