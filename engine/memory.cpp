#include "memory.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <unistd.h>

namespace velmora {

namespace {

constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

// The first number in a small file (a cgroup's limit or usage); kUnlimited when the file
// is missing or says "max".
std::size_t ReadNumber(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) {
        return kUnlimited;
    }
    unsigned long long value = 0;
    const bool read = std::fscanf(file, "%llu", &value) == 1;
    std::fclose(file);
    return read ? static_cast<std::size_t>(value) : kUnlimited;
}

// The value of `key` in a "key value" file (/proc/meminfo, a cgroup's memory.stat), in
// the file's own unit; 0 when the key is missing.
std::size_t ReadKey(const std::string& path, const char* key, bool* found = nullptr) {
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (found != nullptr) {
        *found = false;
    }
    if (file == nullptr) {
        return 0;
    }
    char line[256];
    const std::size_t keyLength = std::strlen(key);
    unsigned long long value = 0;
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, key, keyLength) == 0 && line[keyLength] == ' ' &&
            std::sscanf(line + keyLength, "%llu", &value) == 1) {
            if (found != nullptr) {
                *found = true;
            }
            break;
        }
    }
    std::fclose(file);
    return static_cast<std::size_t>(value);
}

std::size_t MachineMemory() {
    bool found = false;
    const std::size_t kilobytes = ReadKey("/proc/meminfo", "MemAvailable:", &found);
    if (found) {
        return kilobytes * 1024;
    }
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) {
        return kUnlimited;
    }
    return static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize);
}

// Room left under one cgroup folder's limit, its droppable page cache counted as room.
std::size_t GroupRoom(const std::string& folder, bool v2) {
    const std::size_t limit = ReadNumber(folder + (v2 ? "/memory.max" : "/memory.limit_in_bytes"));
    if (limit == kUnlimited || limit >= (kUnlimited >> 2)) { // v1 writes "no limit" as ~2^63
        return kUnlimited;
    }
    const std::size_t usage =
        ReadNumber(folder + (v2 ? "/memory.current" : "/memory.usage_in_bytes"));
    if (usage == kUnlimited) {
        return kUnlimited;
    }
    const std::size_t cache =
        ReadKey(folder + "/memory.stat", v2 ? "inactive_file" : "total_inactive_file");
    return limit > usage ? limit - usage + std::min(cache, usage) : 0;
}

// The tightest room of the process's memory cgroup and every group above it. Inside a
// container the group's own folder may be mounted as the root, so a path that does not
// exist is tried shorter until one does.
std::size_t GroupMemory() {
    std::FILE* file = std::fopen("/proc/self/cgroup", "re");
    if (file == nullptr) {
        return kUnlimited;
    }
    std::string v1Path;
    std::string v2Path;
    char line[4096];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        std::string entry(line);
        if (!entry.empty() && entry.back() == '\n') {
            entry.pop_back();
        }
        const std::size_t first = entry.find(':');
        const std::size_t second = entry.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) {
            continue;
        }
        std::string controllers(1, ',');
        controllers.append(entry, first + 1, second - first - 1).push_back(',');
        if (entry.compare(0, first, "0") == 0 && second == first + 1) {
            v2Path = entry.substr(second + 1);
        } else if (controllers.find(",memory,") != std::string::npos) {
            v1Path = entry.substr(second + 1);
        }
    }
    std::fclose(file);

    const bool v2 = v1Path.empty();
    const std::string root = v2 ? "/sys/fs/cgroup" : "/sys/fs/cgroup/memory";
    std::string path = v2 ? v2Path : v1Path;
    if (path.empty()) {
        return kUnlimited;
    }
    std::size_t room = kUnlimited;
    for (;;) {
        const std::string folder = root + (path == "/" ? "" : path);
        if (access(folder.c_str(), F_OK) == 0) {
            room = std::min(room, GroupRoom(folder, v2));
        }
        if (path == "/" || path.empty()) {
            return room;
        }
        const std::size_t slash = path.rfind('/');
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
}

std::mutex g_mutex;
std::condition_variable g_released;
std::size_t g_claimed = 0;

} // namespace

std::size_t AvailableMemory() { return std::min(MachineMemory(), GroupMemory()); }

std::size_t ConversionMemory(std::size_t inputSize) {
    constexpr std::size_t kFixed = std::size_t{16} << 20;
    return inputSize > (kUnlimited - kFixed) / 2 ? kUnlimited : 2 * inputSize + kFixed;
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
