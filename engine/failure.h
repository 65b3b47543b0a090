#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace velmora {

// What went wrong in a conversion, in words a user can act on: what the program
// was doing, the file it was doing it to, and the system's own reason.
struct Failure {
    std::string action; // "cannot read", "cannot write", "cannot convert"
    std::string path;   // may be empty when no file is involved (running out of memory)
    std::string reason; // e.g. "No such file or directory"
};

// One line naming the path and the reason, e.g.
//   cannot read "in.html": No such file or directory
std::string Describe(const Failure& failure);

// Either a value or the Failure that prevented it. The engine's entry points
// return one of these instead of throwing.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::move(value)) {}
    Result(Failure failure) : m_state(std::move(failure)) {}

    bool Ok() const { return m_state.index() == 0; }
    T& Value() { return std::get<0>(m_state); }
    const T& Value() const { return std::get<0>(m_state); }
    const Failure& GetFailure() const { return std::get<1>(m_state); }
    Failure& GetFailure() { return std::get<1>(m_state); }

private:
    std::variant<T, Failure> m_state;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : m_failure(std::move(failure)) {}

    bool Ok() const { return !m_failure.has_value(); }
    const Failure& GetFailure() const { return *m_failure; }
    Failure& GetFailure() { return *m_failure; }

private:
    std::optional<Failure> m_failure;
};

} // namespace velmora
