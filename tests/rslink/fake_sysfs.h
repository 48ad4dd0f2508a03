// A sysfs and /dev of our own in a temporary folder, laid out as the kernel
// and udev lay out a USB adapter (ttyUSB below its interface, ttyACM as the
// interface), a UART, a legacy ttyS without one and a virtual console.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "rslink/platform/serial_devices.h"

namespace rslinktest {

namespace fs = std::filesystem;

struct UsbIds {
    std::string vendor = "fff0", product = "0001", maker = "Example", name = "Serial Cable",
                serial = "SN0001";
};

class FakeSystem {
public:
    FakeSystem() {
        char pattern[] = "/tmp/rslink-sysfs-XXXXXX";
        root_ = ::mkdtemp(pattern);
        fs::create_directories(root_ + "/sys/class/tty");
        fs::create_directories(root_ + "/dev/serial/by-id");
        roots.sys = root_ + "/sys";
        roots.dev = root_ + "/dev";
    }
    ~FakeSystem() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    FakeSystem(const FakeSystem &) = delete;
    FakeSystem &operator=(const FakeSystem &) = delete;

    // A ttyUSB adapter on USB port `usbPort`; its node links to `node` (a
    // pty, for tests that open it) or is a plain file; `byId` empty: none.
    void addUsbSerial(const std::string &name, const UsbIds &ids, const std::string &byId = "",
                      const std::string &node = "", const std::string &latency = "16",
                      const std::string &usbPort = "1-2") {
        const std::string usb = "devices/pci0000:00/usb1/" + usbPort;
        const std::string port = usb + "/" + usbPort + ":1.0/" + name;
        writeIds(usb, ids);
        fs::create_directories(sys(port + "/tty/" + name));
        if (!latency.empty()) write(sys(port + "/latency_timer"), latency);
        fs::create_directory_symlink("../../../" + name, sys(port + "/tty/" + name + "/device"));
        fs::create_directory_symlink("../../" + port + "/tty/" + name, sys("class/tty/" + name));
        addNode(name, byId, node);
    }

    // A ttyACM adapter: its device is the USB interface itself.
    void addUsbAcm(const std::string &name, const UsbIds &ids, const std::string &usbPort = "1-3") {
        const std::string usb = "devices/pci0000:00/usb1/" + usbPort;
        const std::string iface = usb + "/" + usbPort + ":1.0";
        writeIds(usb, ids);
        fs::create_directories(sys(iface + "/tty/" + name));
        fs::create_directory_symlink("../..", sys(iface + "/tty/" + name + "/device"));
        fs::create_directory_symlink("../../" + iface + "/tty/" + name, sys("class/tty/" + name));
        addNode(name, "", "");
    }

    // A ttyS node; port type 0 means no UART behind it.
    void addTtyS(const std::string &name, int type) {
        const std::string dev = "devices/platform/serial8250/tty/" + name;
        fs::create_directories(sys(dev));
        write(sys(dev + "/type"), std::to_string(type));
        fs::create_directory_symlink("../..", sys(dev + "/device"));
        fs::create_directory_symlink("../../" + dev, sys("class/tty/" + name));
        addNode(name, "", "");
    }

    // A virtual console: a tty class entry with no device.
    void addVirtual(const std::string &name) {
        fs::create_directories(sys("devices/virtual/tty/" + name));
        fs::create_directory_symlink("../../devices/virtual/tty/" + name, sys("class/tty/" + name));
    }

    std::string sys(const std::string &rel) const { return roots.sys + "/" + rel; }
    std::string dev(const std::string &rel) const { return roots.dev + "/" + rel; }
    std::string latencyOf(const std::string &name) const {
        return rslink::platform::readAttribute(sys("class/tty/" + name + "/device/latency_timer"));
    }
    const std::string &root() const { return root_; }

    rslink::platform::SystemRoots roots;

private:
    static void write(const std::string &file, const std::string &text) {
        std::ofstream(file) << text << "\n";
    }
    void writeIds(const std::string &usb, const UsbIds &ids) {
        fs::create_directories(sys(usb));
        write(sys(usb + "/idVendor"), ids.vendor);
        write(sys(usb + "/idProduct"), ids.product);
        write(sys(usb + "/manufacturer"), ids.maker);
        write(sys(usb + "/product"), ids.name);
        write(sys(usb + "/serial"), ids.serial);
    }
    void addNode(const std::string &name, const std::string &byId, const std::string &node) {
        if (node.empty()) write(dev(name), "");
        else fs::create_symlink(node, dev(name));
        if (!byId.empty()) fs::create_symlink("../../" + name, dev("serial/by-id/" + byId));
    }

    std::string root_;
};

}  // namespace rslinktest
