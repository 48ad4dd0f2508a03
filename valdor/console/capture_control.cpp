#include "valdor/console/capture_control.h"

#include <cerrno>
#include <mutex>

#include "rslink/rslink.h"

namespace valdor {
namespace {
std::mutex g_mutex;
std::string g_path;
}  // namespace

bool startCapture(const std::string &path, int &error) {
    std::lock_guard lock(g_mutex);
    errno = 0;
    if (RSCapture(path.c_str()) != RS_OK) {
        error = errno ? errno : EIO;
        g_path.clear();  // the earlier capture has been finished either way
        return false;
    }
    g_path = path;
    return true;
}

void stopCapture() {
    std::lock_guard lock(g_mutex);
    RSCapture(nullptr);
    g_path.clear();
}

std::string capturePath() {
    std::lock_guard lock(g_mutex);
    return g_path;
}

}  // namespace valdor
