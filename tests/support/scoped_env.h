// An environment variable set (or, with nullptr, unset) for the life of the
// object; the value before comes back after it, and tzset() follows so a TZ
// change takes effect at once both times.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <string>

namespace bvtest {

class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : name_(name) {
        const char *old = getenv(name);
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        Set(value);
    }
    ~ScopedEnv() { Set(hadOld_ ? old_.c_str() : nullptr); }
    void Set(const char *value) const {
        value ? setenv(name_.c_str(), value, 1) : unsetenv(name_.c_str());
        tzset();
    }

private:
    std::string name_, old_;
    bool hadOld_ = false;
};

}  // namespace bvtest
