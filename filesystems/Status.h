#pragma once
// The one way the parser contract reports failure: a Status (ok, or the reason in words a
// user understands) and a Result (a value, or the reason it could not be had). Nothing in
// the contract throws to its callers.

#include <optional>
#include <string>
#include <utility>

namespace quenlow::fs {

class Status {
public:
    Status() = default;
    static Status success() { return {}; }
    static Status failure(std::string reason) {
        Status s;
        s.ok_ = false;
        s.reason_ = reason.empty() ? std::string("failed") : std::move(reason);
        return s;
    }
    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    // Empty when ok.
    const std::string& reason() const { return reason_; }

private:
    bool ok_ = true;
    std::string reason_;
};

template <class T>
class Result {
public:
    Result(T value) : value_(std::move(value)) {}  // NOLINT: a value converts implicitly
    Result(Status failure) : status_(std::move(failure)) {
        if (status_.ok()) status_ = Status::failure("no value");
    }
    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    T& value() { return *value_; }
    const T& value() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    const Status& status() const { return status_; }
    const std::string& reason() const { return status_.reason(); }

private:
    std::optional<T> value_;
    Status status_;
};

}  // namespace quenlow::fs
