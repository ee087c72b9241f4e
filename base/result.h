#pragma once

// What a call that can fail returns: its value, or the reason it failed as a
// text for the user. The names follow std::expected (has_value, value, error,
// operator*), so that the day every compiler we build with has it, this
// becomes an alias:
//
//     Result<UniqueFd> openDevice(const std::string& path);
//     auto device = openDevice(path);
//     if (!device) return fail("cannot open " + path + ": " + device.error());

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace runlight {

// The failed side of a Result: made by fail(), taken by any Result<T>.
struct Failure {
    std::string reason;
};

inline Failure fail(std::string reason) {
    return Failure{std::move(reason)};
}

template <class T>
class [[nodiscard]] Result {
public:
    Result(T held) : m_state(std::in_place_index<0>, std::move(held)) {}
    Result(Failure failure) : m_state(std::in_place_index<1>, std::move(failure.reason)) {}

    bool has_value() const { return m_state.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T& value() & {
        assert(has_value());
        return std::get<0>(m_state);
    }
    const T& value() const& {
        assert(has_value());
        return std::get<0>(m_state);
    }
    T&& value() && {
        assert(has_value());
        return std::get<0>(std::move(m_state));
    }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    // The value, or `otherwise` after a failure.
    T value_or(T otherwise) const& { return has_value() ? value() : std::move(otherwise); }

    // Why it failed; only after a failure.
    const std::string& error() const {
        assert(!has_value());
        return std::get<1>(m_state);
    }

private:
    std::variant<T, std::string> m_state;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : m_error(std::move(failure.reason)) {}

    bool has_value() const { return !m_error.has_value(); }
    explicit operator bool() const { return has_value(); }
    const std::string& error() const {
        assert(!has_value());
        return *m_error;
    }

private:
    std::optional<std::string> m_error;
};

}  // namespace runlight
