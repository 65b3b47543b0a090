// A global operator new that counts every allocation and fails the one VELMORA_FAIL_ALLOC
// names ("N" once, "N:persistent" from then on), for the fault sweep's copy of
// velmora-convert. The count is appended to VELMORA_FAULT_COUNTS at exit ("alloc N").

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<unsigned long> g_allocations{0};
unsigned long g_failAt = 0;
bool g_persistent = false;

void WriteCount() {
    const char* path = std::getenv("VELMORA_FAULT_COUNTS");
    if (std::FILE* file = path != nullptr ? std::fopen(path, "a") : nullptr) {
        std::fprintf(file, "alloc %lu\n", g_allocations.load());
        std::fclose(file);
    }
}

bool Arm() {
    if (const char* setting = std::getenv("VELMORA_FAIL_ALLOC")) {
        g_failAt = std::strtoul(setting, nullptr, 10);
        g_persistent = std::strstr(setting, ":persistent") != nullptr;
    }
    std::atexit(WriteCount);
    return true;
}

void* Allocate(std::size_t size) {
    static const bool armed = Arm();
    (void)armed;
    const unsigned long n = ++g_allocations;
    if (g_failAt != 0 && (n == g_failAt || (g_persistent && n > g_failAt))) {
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
