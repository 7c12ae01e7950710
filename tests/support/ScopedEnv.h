// Sets (or removes) one environment variable for a scope and restores its old state afterwards;
// for TZ it also makes the C library read the zone again. Not thread-safe, as setenv is not.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>

namespace parcelo::test {

class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = ::getenv(name_.c_str())) old_ = old;
    Apply(value);
  }
  ~ScopedEnv() { Apply(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Apply(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
    if (name_ == "TZ") ::tzset();
  }

  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace parcelo::test
