// The driver's line over the network (tcp:// or rfc2217://), beside the
// serial port and behind the same interface: the connection is the
// stateless NetLink; this adds what the driver's threads need of a port
// (a read that a wake-up cuts short, the hang-up, the capture's listener).
//
// A network port cannot time RTS around a write as a local one does: the
// server drives the line, and a SET-CONTROL would reach it at no known
// moment beside the data.  RTS follows RTSControl only.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "rslink/core/port_name.h"
#include "rslink/core/result.h"
#include "rslink/platform/driver_port.h"
#include "rslink/platform/fd_io.h"
#include "rslink/platform/net_link.h"

namespace rslink::platform {

class NetworkPort final : public DriverPort {
public:
    // Connects (and negotiates, over rfc2217://); a failure as NetLink::open
    // gives it.
    static Result<std::unique_ptr<NetworkPort>> open(const core::NetworkName &name,
                                                     const NetLinkOptions &options);
    ~NetworkPort() override;

    core::ReadResult read(uint8_t *buffer, size_t size) override;
    bool write(const uint8_t *data, size_t size) override;
    void wake() override { wake_.raise(); }
    void setListener(core::LineListener *listener) override { listener_.store(listener); }
    // SET-CONTROL over rfc2217://, nothing over tcp://; no answer awaited.
    void setDtrControl(bool on) override { link_->setDtr(on); }
    void setRtsControl(bool on) override { link_->setRts(on); }

    // The server closed the connection, or the network failed (keep-alive,
    // a reset): for good, as a local line that hung up.
    bool gone() const override { return gone_.load(); }
    int goneError() const override { return goneError_.load(); }
    const std::string &path() const override { return link_->name().text; }
    void close() override;
    void restoreAtExit() override {}

    // What the server answered with other values than asked (rfc2217://).
    std::string refusedSettings() const { return link_->refusedSettings(); }

private:
    NetworkPort(std::unique_ptr<NetLink> link, WakeSignal wake);
    void markGone(const char *what, int error);
    void dropPending();

    std::unique_ptr<NetLink> link_;
    const WakeSignal wake_;
    std::atomic<bool> gone_{false};
    std::atomic<int> goneError_{0};
    std::atomic<core::LineListener *> listener_{nullptr};
};

}  // namespace rslink::platform
