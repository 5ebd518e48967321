#pragma once
// A value or an error. Errors are values throughout the program: set-up steps and pipeline
// operations give back an error text, decoders give back their own error enum.

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace mirravale {

template <class E>
struct Failure {
    E error;
};

// Builds the error side of any Result: `return fail("cannot listen")`.
template <class E>
Failure<std::decay_t<E>> fail(E&& error) {
    return {std::forward<E>(error)};
}
inline Failure<std::string> fail(const char* text) {
    return {std::string(text)};
}

template <class T, class E = std::string>
class [[nodiscard]] Result {
  public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    template <class F>
    requires std::is_constructible_v<E, F> Result(Failure<F> failure)
        : state_(std::in_place_index<1>, E(std::move(failure.error))) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const E& error() const { return std::get<1>(state_); }

  private:
    std::variant<T, E> state_;
};

// Success or an error, with nothing to carry on success.
template <class E>
class [[nodiscard]] Result<void, E> {
  public:
    Result() = default;
    template <class F>
    requires std::is_constructible_v<E, F> Result(Failure<F> failure)
        : error_(std::in_place, E(std::move(failure.error))) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    const E& error() const { return *error_; }

  private:
    std::optional<E> error_;
};

using Status = Result<void>;

}  // namespace mirravale
