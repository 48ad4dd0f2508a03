// How a call inside this tree says that it failed: it returns a Result,
// which holds either what the call gives or the Failure that stopped it.
// The layer that sees the failure fills the Failure in once (the system's
// error number, and the object and the reason in words); the layers above
// pass it on, or show it, without building their own.
#pragma once

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace rslink {

struct Failure {
    int error = 0;    // errno of the system call that failed; 0 when none did
    std::string why;  // "cannot open /dev/ttyUSB0: Permission denied"

    // `what` failed with the system's error number `error`, said in words.
    static Failure of(int error, const std::string &what) {
        return {error, what + ": " + std::strerror(error)};
    }
    // The same for the system call that has just failed: its errno.
    static Failure ofErrno(const std::string &what) { return of(errno, what); }
};

template <class T = void>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    T &value() { return std::get<0>(state_); }
    const T &value() const { return std::get<0>(state_); }
    T &operator*() { return value(); }
    const T &operator*() const { return value(); }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }

    // Only when !ok().
    const Failure &failure() const { return std::get<1>(state_); }

private:
    std::variant<T, Failure> state_;
};

// A call that gives nothing but can fail.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : failure_(std::move(failure)) {}

    bool ok() const { return !failure_; }
    explicit operator bool() const { return ok(); }

    // Only when !ok().
    const Failure &failure() const { return failure_.value(); }

private:
    std::optional<Failure> failure_;
};

}  // namespace rslink
