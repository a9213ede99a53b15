#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace veldatron {

template <typename Signature> class FunctionRef;

// A non-owning reference to a callable: two pointers, no allocation, one indirect call. For
// callbacks that only live for the duration of the call that receives them (the print path's
// payload resolver, a row's character provider). A default-constructed FunctionRef is empty.
template <typename R, typename... Args> class FunctionRef<R(Args...)> {
public:
    constexpr FunctionRef() = default;

    // A plain function.
    FunctionRef(R (*function)(Args...)) // NOLINT: implicit, like a function pointer
        : m_call(function ? &callFunction : nullptr) {
        m_target.function = function;
    }

    // A callable object (a lambda), which must outlive the reference.
    template <typename F,
              typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef> &&
                                          !std::is_function_v<std::remove_reference_t<F>> &&
                                          !std::is_pointer_v<std::decay_t<F>> &&
                                          std::is_invocable_r_v<R, F&, Args...>>>
    FunctionRef(F&& f) // NOLINT: implicit, like a function pointer
        : m_call([](Target target, Args... args) -> R {
              return (*static_cast<std::remove_reference_t<F>*>(target.object))(
                  std::forward<Args>(args)...);
          }) {
        m_target.object = const_cast<void*>(static_cast<const void*>(std::addressof(f)));
    }

    R operator()(Args... args) const { return m_call(m_target, std::forward<Args>(args)...); }
    explicit operator bool() const { return m_call != nullptr; }

private:
    union Target {
        void* object;
        R (*function)(Args...);
    };

    static R callFunction(Target target, Args... args) {
        return target.function(std::forward<Args>(args)...);
    }

    Target m_target{nullptr};
    R (*m_call)(Target, Args...) = nullptr;
};

} // namespace veldatron
