#pragma once

#include <string>
#include <utility>
#include <variant>

namespace lotrix {

// An error that the run action reports to the user instead of acting on. The number and
// description follow the classic run-time error table (13 "Type mismatch", 6 "Overflow",
// 53 "File not found"); a failure that only the system can name carries the system's own
// error number and text. `detail` is one plain sentence saying what was wrong.
struct RunError {
  int number = 0;
  std::string description;
  std::string detail;
  // A failure that only the system can name: `number` is the system's own code, and
  // `codeName` its symbolic name where it has one ("EACCES"). Said as a system error, so that
  // 13 "Permission denied" is not taken for 13 "Type mismatch".
  bool system = false;
  std::string codeName{};
};

inline RunError SystemRunError(int code, std::string description, std::string codeName,
                               std::string detail) {
  return {code, std::move(description), std::move(detail), true, std::move(codeName)};
}

// A value or the error that stands in its place.
template <class T>
class Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(RunError error) : state_(std::move(error)) {}

  explicit operator bool() const { return std::holds_alternative<T>(state_); }
  T& operator*() { return std::get<T>(state_); }
  const T& operator*() const { return std::get<T>(state_); }
  T* operator->() { return &std::get<T>(state_); }
  const RunError& error() const { return std::get<RunError>(state_); }

 private:
  std::variant<T, RunError> state_;
};

}  // namespace lotrix
