#pragma once

#include <memory>

namespace cavrel {

namespace detail {
struct APICallState;
}

// Handle of one running hub operation. cancel() aborts the request and guarantees that the
// completion is never called, whatever stage the operation was in. Dropping the handle does
// not cancel; a default-constructed or finished handle ignores cancel().
class APIRequest {
public:
    APIRequest() = default;
    explicit APIRequest(std::shared_ptr<detail::APICallState> state) : m_state(std::move(state)) {}

    void cancel();
    // True once the completion has run, or will never run (cancelled, context gone).
    bool isFinished() const;

private:
    std::shared_ptr<detail::APICallState> m_state;
};

} // namespace cavrel
