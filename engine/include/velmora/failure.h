#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace velmora {

// What the program was doing when a conversion failed.
enum class Action {
    Read,    // "cannot read"
    Convert, // "cannot convert"
    Write,   // "cannot write"
};

// Whose words a failure's reason is given in.
enum class Wording {
    Portable, // Linux's, on every system: what velmora-convert prints (ErrorText)
    System,   // the running system's own: on Windows those it gives its own programs, in
              // the user's language ("The system cannot find the file specified.")
};

// What went wrong in a conversion, in words a user can act on: what the program was
// doing, the file it was doing it to, and the system's reason as its error code.
struct Failure {
    Action action = Action::Convert;
    std::string path;    // may be empty when no file is involved
    std::string context; // what was found before the system's reason, e.g. "no temporary
                         // file to hold it"; the whole reason when `error` is 0
    int error = 0;       // errno's value, e.g. ENOENT; ENOMEM when memory ran out

    // The reason alone, e.g. "No such file or directory", or with its context
    // "no temporary file to hold it: No space left on device".
    std::string Reason(Wording wording = Wording::Portable) const;
};

// The words for an error code, the same on every system: Linux's own, and
// "not enough memory" for ENOMEM.
const char* ErrorText(int error);

// The running system's words for an error code, without a closing full stop: on Windows
// those of the Windows error that stands for the condition (ENOENT is "The system cannot
// find the file specified"), elsewhere ErrorText's.
std::string SystemErrorText(int error);

// "cannot read", "cannot convert" or "cannot write".
const char* ActionText(Action action);

// One line naming the path and the reason, e.g.
//   cannot read "in.html": No such file or directory
std::string Describe(const Failure& failure, Wording wording = Wording::Portable);

// Either a value or the Failure that prevented it, in the words of std::expected: the
// engine's entry points return one of these instead of throwing. Asking a failure for
// its value, or a value for its failure, is a programming error.
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : m_state(std::in_place_index<1>, std::move(failure)) {}

    bool has_value() const { return m_state.index() == 0; }
    explicit operator bool() const { return has_value(); }
    T& value() {
        assert(has_value());
        return *std::get_if<0>(&m_state);
    }
    const T& value() const {
        assert(has_value());
        return *std::get_if<0>(&m_state);
    }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    Failure& error() {
        assert(!has_value());
        return *std::get_if<1>(&m_state);
    }
    const Failure& error() const {
        assert(!has_value());
        return *std::get_if<1>(&m_state);
    }

private:
    std::variant<T, Failure> m_state;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : m_failure(std::move(failure)) {}

    bool has_value() const { return !m_failure.has_value(); }
    explicit operator bool() const { return has_value(); }
    void value() const { assert(has_value()); }
    Failure& error() {
        assert(!has_value());
        return *m_failure;
    }
    const Failure& error() const {
        assert(!has_value());
        return *m_failure;
    }

private:
    std::optional<Failure> m_failure;
};

} // namespace velmora
