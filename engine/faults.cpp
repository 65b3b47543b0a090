#include "faults.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace velmora::sys {

namespace {

std::mutex g_mutex;
Fault g_fault;
bool g_armed = false;
std::atomic<unsigned long> g_calls[kCallKinds];

constexpr const char* kNames[kCallKinds] = {"open",  "create", "read",   "write",  "flush", "place",
                                            "close", "stat",   "remove", "memory", "thread"};

// A run of the program is armed from VELMORA_FAULT: "KIND:N:ERRNO[:persistent]", e.g.
// "write:3:28" fails the third write with ENOSPC.
// With VELMORA_FAULT_COUNTS naming a file, the calls made of each kind are appended to it
// at exit, a line each ("write 12"): what a sweep counts before it fails them in turn.
void WriteCounts() {
    const char* path = std::getenv("VELMORA_FAULT_COUNTS");
    if (std::FILE* file = path != nullptr ? std::fopen(path, "a") : nullptr) {
        for (int i = 0; i < kCallKinds; ++i) {
            std::fprintf(file, "%s %lu\n", kNames[i], g_calls[i].load());
        }
        std::fclose(file);
    }
}

void ArmFromEnvironment() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::atexit(WriteCounts);
        const char* setting = std::getenv("VELMORA_FAULT");
        if (setting == nullptr) {
            return;
        }
        char kind[16] = {};
        unsigned long nth = 0;
        int error = 0;
        char mode[16] = {};
        if (std::sscanf(setting, "%15[a-z]:%lu:%d:%15s", kind, &nth, &error, mode) < 3) {
            return;
        }
        for (int i = 0; i < kCallKinds; ++i) {
            if (std::strcmp(kind, kNames[i]) == 0) {
                ArmFault({static_cast<Call>(i), nth, error, std::strcmp(mode, "persistent") == 0,
                          std::strcmp(mode, "ends") == 0});
            }
        }
    });
}

} // namespace

void ArmFault(const Fault& fault) {
    std::lock_guard lock(g_mutex);
    for (auto& calls : g_calls) {
        calls = 0;
    }
    g_fault = fault;
    g_armed = true;
}

void DisarmFaults() {
    std::lock_guard lock(g_mutex);
    g_armed = false;
    for (auto& calls : g_calls) {
        calls = 0;
    }
}

unsigned long CallsMade(Call call) {
    return g_calls[static_cast<int>(call)].load();
}

int Inject(Call call, std::size_t* size) {
    ArmFromEnvironment();
    const unsigned long made = ++g_calls[static_cast<int>(call)];
    std::lock_guard lock(g_mutex);
    if (!g_armed || g_fault.call != call ||
        (g_fault.persistent ? made < g_fault.nth : made != g_fault.nth)) {
        return 0;
    }
    if (g_fault.error == 0) {
        if (size != nullptr && g_fault.ends) {
            *size = 0;
        } else if (size != nullptr && *size > 1) {
            *size = std::max<std::size_t>(1, *size / 3);
        }
        return 0;
    }
    return g_fault.error;
}

} // namespace velmora::sys
