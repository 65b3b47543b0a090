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
// A few faults at once, so that a call on a failure's own path (what a refused
// replacement is asked) can be failed in turn too.
constexpr int kMostFaults = 4;
Fault g_faults[kMostFaults];
int g_armed = 0;
std::atomic<unsigned long> g_calls[kCallKinds];

constexpr const char* kNames[kCallKinds] = {"open",   "create", "read",  "write",     "flush",
                                            "place",  "close",  "stat",  "remove",    "memory",
                                            "thread", "seek",   "owner", "attributes"};

// A run of the program is armed from VELMORA_FAULT: "KIND:N:ERRNO[:persistent]", e.g.
// "write:3:28" fails the third write with ENOSPC; several, separated by commas, fail each
// where it says ("place:2:1,attributes:1:13").
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
        DisarmFaults();
        for (const char* at = setting; at != nullptr; at = std::strchr(at, ',')) {
            at += *at == ',' ? 1 : 0;
            char kind[16] = {};
            unsigned long nth = 0;
            int error = 0;
            char mode[16] = {};
            if (std::sscanf(at, "%15[a-z]:%lu:%d:%15[a-z]", kind, &nth, &error, mode) < 3) {
                return;
            }
            for (int i = 0; i < kCallKinds; ++i) {
                if (std::strcmp(kind, kNames[i]) == 0) {
                    AddFault({static_cast<Call>(i), nth, error,
                              std::strcmp(mode, "persistent") == 0,
                              std::strcmp(mode, "ends") == 0});
                }
            }
        }
    });
}

} // namespace

void ArmFault(const Fault& fault) {
    DisarmFaults();
    AddFault(fault);
}

void AddFault(const Fault& fault) {
    std::lock_guard lock(g_mutex);
    if (g_armed < kMostFaults) {
        g_faults[g_armed++] = fault;
    }
}

void DisarmFaults() {
    std::lock_guard lock(g_mutex);
    g_armed = 0;
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
    for (int i = 0; i < g_armed; ++i) {
        const Fault& fault = g_faults[i];
        if (fault.call != call || (fault.persistent ? made < fault.nth : made != fault.nth)) {
            continue;
        }
        if (fault.error == 0) {
            if (size != nullptr && fault.ends) {
                *size = 0;
            } else if (size != nullptr && *size > 1) {
                *size = std::max<std::size_t>(1, *size / 3);
            }
            return 0;
        }
        return fault.error;
    }
    return 0;
}

} // namespace velmora::sys
