#pragma once

#include "APIError.h"

#include <cassert>
#include <optional>
#include <utility>
#include <variant>

namespace cavrel {

// The outcome of a hub operation: its value or the error that stopped it. Completions receive
// one of these instead of a thrown error, since no exception may cross into Qt's event loop.
template <class T> class APIResult {
public:
    APIResult(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    APIResult(APIError error) : m_state(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T& value() const& {
        assert(ok());
        return std::get<0>(m_state);
    }
    T& value() & {
        assert(ok());
        return std::get<0>(m_state);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(m_state));
    }
    const APIError& error() const {
        assert(!ok());
        return std::get<1>(m_state);
    }

private:
    std::variant<T, APIError> m_state;
};

// Operations that return nothing (the deletes) succeed or carry an error.
template <> class APIResult<void> {
public:
    APIResult() = default;
    APIResult(APIError error) : m_error(std::move(error)) {}

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    const APIError& error() const {
        assert(!ok());
        return *m_error;
    }

private:
    std::optional<APIError> m_error;
};

} // namespace cavrel
