// Files for tests: a temporary folder of a test's own, and a write limit that
// makes writes fail as a full disk would.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

// A new, empty folder under the system's temporary folder.
inline std::filesystem::path makeTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "valdor-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

// A folder of its own, removed with everything in it afterwards.
class TempDir {
public:
    TempDir() : path_(makeTempFolder()) {}
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    std::string file(const std::string &name) const { return (path_ / name).string(); }
    // Writes `bytes` to `name` in the folder; its path.
    std::string write(const std::string &name, const std::vector<uint8_t> &bytes) const {
        std::string p = file(name);
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p;
    }

private:
    std::filesystem::path path_;
};

// A folder of this test process's own, made on first use and removed when
// the process ends (by the process that made it, not a forked child).  ctest
// runs each test case as a process of its own, side by side: fixed names
// under /tmp met there, names under this folder never do.  Ends in '/', as
// ::testing::TempDir() does.
inline const std::string &scratch() {
    struct Folder {
        Folder() : owner(getpid()), path(makeTempFolder().string() + "/") {}
        ~Folder() {
            std::error_code ignored;
            if (getpid() == owner) std::filesystem::remove_all(path, ignored);
        }
        pid_t owner;
        std::string path;
    };
    static const Folder folder;
    return folder.path;
}

// Runs `fn` with this process's file-size limit at `bytes`: a write beyond it
// fails with EFBIG, as on a full disk, instead of raising SIGXFSZ.
inline void withFileSizeLimit(rlim_t bytes, const std::function<void()> &fn) {
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &small);
    fn();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
}

}  // namespace testsupport
