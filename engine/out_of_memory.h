#pragma once

// Running out of memory is a failure like any other for the engine's callers: every entry
// point runs its work through OrOutOfMemory, the one place where it is caught.

#include "velmora/failure.h"

#include <cerrno>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

namespace velmora::detail {

// `work()`, or a Failure of `action` on `name` when it runs out of memory on the way.
template <typename Work>
auto OrOutOfMemory(Action action, const std::string& name, Work work) -> decltype(work()) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return Failure{action, name, {}, ENOMEM};
    } catch (const std::length_error&) { // a size past what a string can hold
        return Failure{action, name, {}, ENOMEM};
    }
}

} // namespace velmora::detail
