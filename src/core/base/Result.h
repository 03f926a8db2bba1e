#pragma once

#include <QString>

#include <utility>
#include <variant>

// What went wrong, in the words shown to the user. `systemError` carries the errno value
// where the failure came from the system (0 otherwise), so callers can tell "not found" from
// "no permission" without parsing the message.
struct Error {
    enum class Kind {
        Invalid,      // the input was refused (a bad template, a path that leaves the project)
        NotFound,     // a file, folder, tool or record that is not there
        Conflict,     // the world changed under us (a file edited since the review)
        Limit,        // a size, count or depth limit was reached
        System,       // the operating system refused (see systemError)
        Unavailable,  // a service this machine does not have
        Cancelled,    // the user or a newer request stopped it
        TimedOut,
    };

    Kind kind = Kind::Invalid;
    QString message;
    int systemError = 0;

    bool operator==(const Error&) const = default;

    static Error invalid(QString message) { return {Kind::Invalid, std::move(message)}; }
    // A system failure: `what` ("Could not read src/a.txt") and the system's own words for
    // `errorNumber`.
    static Error system(int errorNumber, const QString& what);
};

// A value or the Error that stopped it: C++20 has no std::expected, and this is the small part
// of it VELK uses. [[nodiscard]], so an ignored failure is a compile warning; a failure that is
// dropped on purpose says so with `(void)` and a comment.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : m_state(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T& value() const& { return std::get<0>(m_state); }
    T& value() & { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    const T* operator->() const { return &value(); }
    const T& operator*() const& { return value(); }

    const Error& error() const { return std::get<1>(m_state); }

    T valueOr(T fallback) const& { return ok() ? value() : std::move(fallback); }

private:
    std::variant<T, Error> m_state;
};

// Success with nothing to return, or the Error.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)), m_failed(true) {}

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return m_error; }

private:
    Error m_error;
    bool m_failed = false;
};
