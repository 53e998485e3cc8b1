#pragma once

#include <string>
#include <utility>
#include <variant>

namespace lotrix {

// What went wrong, and with which file: printed as "lotrix: <path>: <reason>".
struct Error {
  std::string path;
  std::string reason;
};

// Builds an Error from the errno-style code of a failed system call.
Error SystemError(std::string path, int code);

// A value, or the error that prevented it.
template <class T>
class Expected {
 public:
  Expected(T value) : state_(std::move(value)) {}
  Expected(Error error) : state_(std::move(error)) {}

  explicit operator bool() const { return std::holds_alternative<T>(state_); }
  T& operator*() { return std::get<T>(state_); }
  const T& operator*() const { return std::get<T>(state_); }
  T* operator->() { return &std::get<T>(state_); }
  const T* operator->() const { return &std::get<T>(state_); }
  const Error& error() const { return std::get<Error>(state_); }

 private:
  std::variant<T, Error> state_;
};

}  // namespace lotrix
