// An environment variable set for a test's while: put back as it was (or
// unset) when the guard goes.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace testsupport {

class ScopedEnv {
public:
    // `value` nullptr: the variable is unset meanwhile.
    ScopedEnv(std::string name, const char *value) : name_(std::move(name)) {
        if (const char *old = std::getenv(name_.c_str())) old_ = old;
        set(value);
    }
    ~ScopedEnv() { set(old_ ? old_->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

    void set(const char *value) {
        if (value) ::setenv(name_.c_str(), value, 1);
        else ::unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace testsupport
