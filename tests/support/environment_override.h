#pragma once

#include <cstdlib>
#include <optional>
#include <string>

// A variable of the process's environment set (or, for nullptr, unset) for
// the object's life, then put back as it was.
class TEnvironmentOverride {
 public:
  TEnvironmentOverride(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  TEnvironmentOverride(const char* name, const std::string& value)
      : TEnvironmentOverride(name, value.c_str()) {}
  ~TEnvironmentOverride() { saved_ ? ::setenv(name_, saved_->c_str(), 1) : ::unsetenv(name_); }

  TEnvironmentOverride(const TEnvironmentOverride&) = delete;
  TEnvironmentOverride& operator=(const TEnvironmentOverride&) = delete;

 private:
  const char* name_;
  std::optional<std::string> saved_;
};
