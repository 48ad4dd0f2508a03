#include "rslink/platform/serial_devices.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fstream>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rslink::platform {

namespace {

bool exists(const std::string &path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> entries(const std::string &dir) {
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (!d) return names;
    while (const dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string readLink(const std::string &path) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0) return {};
    return std::string(target, static_cast<size_t>(n));
}

std::string baseName(const std::string &path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string dirName(const std::string &path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool isTtyName(const std::string &name, const SystemRoots &roots) {
    return !name.empty() && name != "." && name != ".." &&
           exists(roots.sys + "/class/tty/" + name);
}

// A ttyS node whose port type is 0 has no UART behind it.
bool legacyWithoutUart(const std::string &name, const SystemRoots &roots) {
    if (name.rfind("ttyS", 0) != 0) return false;
    const std::string type = readAttribute(roots.sys + "/class/tty/" + name + "/type");
    return type.empty() || type == "0";
}

std::string byIdNameOf(const std::string &name, const SystemRoots &roots) {
    const std::string dir = roots.dev + "/serial/by-id";
    for (const auto &link : entries(dir))
        if (baseName(readLink(dir + "/" + link)) == name) return dir + "/" + link;
    return {};
}

}  // namespace

std::string readAttribute(const std::string &file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\n'))
        line.pop_back();
    return line;
}

std::string ttyDeviceDir(const std::string &name, const SystemRoots &roots) {
    const std::string dir = roots.sys + "/class/tty/" + name + "/device";
    return exists(dir) ? dir : std::string{};
}

// The tty's device is a USB interface (ttyACM) or a port below one (ttyUSB):
// the USB device with its ids is one to three levels up.  ".." is resolved
// by the kernel on the real directory, so no path needs canonicalising.
std::string usbDeviceDir(const std::string &name, const SystemRoots &roots) {
    std::string dir = ttyDeviceDir(name, roots);
    if (dir.empty()) return {};
    for (int level = 0; level < 4; ++level) {
        if (exists(dir + "/idVendor")) return dir;
        dir += "/..";
    }
    return {};
}

std::vector<SerialDevice> listSerialDevices(const SystemRoots &roots) {
    std::vector<SerialDevice> found;
    for (const auto &name : entries(roots.sys + "/class/tty")) {
        if (ttyDeviceDir(name, roots).empty() || legacyWithoutUart(name, roots)) continue;
        SerialDevice d;
        d.name = name;
        d.device = roots.dev + "/" + name;
        d.byId = byIdNameOf(name, roots);
        const std::string usb = usbDeviceDir(name, roots);
        d.usb = !usb.empty();
        if (d.usb) {
            d.vendorId = readAttribute(usb + "/idVendor");
            d.productId = readAttribute(usb + "/idProduct");
            d.manufacturer = readAttribute(usb + "/manufacturer");
            d.product = readAttribute(usb + "/product");
            d.serial = readAttribute(usb + "/serial");
        }
        found.push_back(std::move(d));
    }
    return found;
}

std::vector<SerialDevice> listUsbAdapters(const SystemRoots &roots) {
    auto all = listSerialDevices(roots);
    all.erase(std::remove_if(all.begin(), all.end(), [](const SerialDevice &d) { return !d.usb; }),
              all.end());
    return all;
}

std::string describeDevice(const SerialDevice &d) {
    std::string line = d.device;
    if (!d.byId.empty()) line += "  " + d.byId;
    if (d.usb) {
        line += "  usb " + (d.vendorId.empty() ? "?" : d.vendorId) + ":" +
                (d.productId.empty() ? "?" : d.productId);
        if (!d.manufacturer.empty()) line += "  " + d.manufacturer;
        if (!d.product.empty()) line += "  " + d.product;
        if (!d.serial.empty()) line += "  serial " + d.serial;
    }
    return line;
}

// Follows the link chain one step at a time (a by-id link, a link of one's
// own, a test bed's link to a pty) and stops at the first name that sysfs
// knows as a tty.
std::string ttyNameOf(const std::string &path, const SystemRoots &roots) {
    std::string current = path;
    for (int hop = 0; hop < 16 && !current.empty(); ++hop) {
        if (isTtyName(baseName(current), roots) && exists(current)) return baseName(current);
        const std::string target = readLink(current);
        if (target.empty()) return {};
        current = target.front() == '/' ? target : dirName(current) + "/" + target;
    }
    return {};
}

std::vector<std::string> holdersOf(const std::string &path, const SystemRoots &roots) {
    std::vector<std::string> holders;
    struct stat wanted{};
    if (::stat(path.c_str(), &wanted) != 0) return holders;
    const std::string self = std::to_string(::getpid());
    for (const auto &pid : entries(roots.proc)) {
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
        const std::string fdDir = roots.proc + "/" + pid + "/fd";
        for (const auto &fd : entries(fdDir)) {
            struct stat st{};
            if (::stat((fdDir + "/" + fd).c_str(), &st) != 0) continue;
            const bool same = S_ISCHR(wanted.st_mode)
                                  ? S_ISCHR(st.st_mode) && st.st_rdev == wanted.st_rdev
                                  : st.st_dev == wanted.st_dev && st.st_ino == wanted.st_ino;
            if (!same) continue;
            holders.push_back(pid + " (" + readAttribute(roots.proc + "/" + pid + "/comm") + ")");
            break;
        }
    }
    return holders;
}

}  // namespace rslink::platform
