// A pseudo-terminal whose far end nobody answers: somewhere for COM Open to
// succeed without a unit.
#pragma once

#include <cstdlib>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace testsupport {

class PtyPair {
public:
    PtyPair() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error("no pty");
        path_ = ::ptsname(master_);
    }
    ~PtyPair() { ::close(master_); }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    const std::string &path() const { return path_; }
    void mapCom(int n) const { ::setenv(("RSLINK_COM" + std::to_string(n)).c_str(), path_.c_str(), 1); }

private:
    int master_ = -1;
    std::string path_;
};

}  // namespace testsupport
