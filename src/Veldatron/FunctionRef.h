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

    template <typename F,
              typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef> &&
                                          std::is_invocable_r_v<R, F&, Args...>>>
    FunctionRef(F&& f) // NOLINT: implicit, like a function pointer
        : m_object(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
          m_call([](void* object, Args... args) -> R {
              return (*static_cast<std::remove_reference_t<F>*>(object))(
                  std::forward<Args>(args)...);
          }) {}

    R operator()(Args... args) const { return m_call(m_object, std::forward<Args>(args)...); }
    explicit operator bool() const { return m_call != nullptr; }

private:
    void* m_object = nullptr;
    R (*m_call)(void*, Args...) = nullptr;
};

} // namespace veldatron
