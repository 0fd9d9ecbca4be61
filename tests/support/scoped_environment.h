// Environment variables set for one test and restored when the object ends,
// also when an assertion ends the test early.
//
//   ScopedEnvironment env;
//   env.Set("http_proxy", "127.0.0.1:3128");
//   env.Set("no_proxy", std::nullopt);  // unset for the test
#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace peloria::testing {

class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) Put(name, value);
  }

  // Sets `name` to `value`, or unsets it for none; the first call for a name
  // keeps its value from before.
  void Set(const std::string& name, const std::optional<std::string>& value) {
    if (!saved_.contains(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    Put(name, value);
  }

 private:
  static void Put(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace peloria::testing
