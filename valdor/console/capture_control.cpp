#include "valdor/console/capture_control.h"

#include <cerrno>
#include <cstring>
#include <mutex>

#include "rslink/rslink.h"

namespace valdor {
namespace {
std::mutex g_mutex;
std::string g_path;
}  // namespace

rslink::Result<> startCapture(const std::string &path) {
    std::lock_guard lock(g_mutex);
    errno = 0;
    if (RSCapture(path.c_str()) != RS_OK) {
        const int error = errno ? errno : EIO;
        g_path.clear();  // the earlier capture has been finished either way
        return rslink::Failure::of(error, "cannot create the capture " + path);
    }
    g_path = path;
    return {};
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
