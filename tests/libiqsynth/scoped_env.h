// Test helper: sets (or removes) an environment variable for the life of the object and puts
// the previous value back. The synthesis library reads GSL_RNG_SEED at every run that makes
// noise, so tests fix the seed this way.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

class ScopedEnv {
 public:
  // value nullopt removes the variable.
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      previous_ = old;
    }
    apply(value);
  }
  ~ScopedEnv() { apply(previous_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void apply(const std::optional<std::string>& value) {
    if (value) {
      setenv(name_.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

  std::string name_;
  std::optional<std::string> previous_;
};
