// A value or the reason there is none. Readers of untrusted bytes report every
// failure this way; nothing in this library throws on bad input.
#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

#include "codesign/Status.h"

namespace codesign {

struct Error {
    Status status = errSecCSInternalError;
    std::string message;  // names where it went wrong: "load command 3 LC_CODE_SIGNATURE ..."
};

// An error whose message is prefixed with its context ("slice 1 (arm64): ...").
inline Error withContext(std::string_view context, Error error) {
    if (!context.empty()) error.message = std::string(context) + ": " + error.message;
    return error;
}

template <class T>
class Expected {
public:
    Expected(T value) : state_(std::move(value)) {}      // NOLINT: implicit by design
    Expected(Error error) : state_(std::move(error)) {}  // NOLINT: implicit by design

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { assert(ok()); return std::get<0>(state_); }
    const T& value() const& { assert(ok()); return std::get<0>(state_); }
    T&& value() && { assert(ok()); return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const { assert(!ok()); return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

}  // namespace codesign
