// The client side of the driver for tests: a thread queue that takes the
// driver's notifications, and the unit's side of common exchanges on a peer.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "support/pty_peer.h"
#include "support/wait.h"
#include "rslink/rslink.h"

namespace rslinktest {

using namespace testsupport;  // the pty peer, the wire helpers, the waits

struct Notice {
    unsigned message = 0;
    const MSG_BLK *block = nullptr;
    MSG_BLK copy{};
    Bytes text;  // the text at data, read when the notice was taken
};

class Client {
public:
    Client() : id(RSQueueCreate()) {}
    ~Client() { RSQueueDestroy(); }

    std::optional<Notice> next(milliseconds timeout = milliseconds(15000)) {
        RS_MSG m{};
        if (RSGetMessageTimeout(&m, static_cast<int>(timeout.count())) != 1) return std::nullopt;
        Notice n;
        n.message = m.message;
        n.block = reinterpret_cast<const MSG_BLK *>(m.lparam);
        if (n.block) {
            n.copy = *n.block;
            if (n.copy.data && n.copy.length <= 65536)
                n.text.assign(n.copy.data, n.copy.data + n.copy.length);
        }
        return n;
    }

    const unsigned long id;
};

// The unit takes one request: grants the bid, takes the frame, acknowledges.
inline void unitTakesRequest(PtyPeer &unit, const Bytes &text) {
    EXPECT_EQ(hex(unit.read(2)), hex(kEnq));
    unit.send(kAck);
    const Bytes frame = frameOf(text);
    EXPECT_EQ(hex(unit.read(frame.size())), hex(frame));
    unit.send(kAck);
}

// The unit sends one text: bids, sends the frame once granted, expects ACK.
inline void unitSends(PtyPeer &unit, const Bytes &text) {
    unit.send(kEnq);
    EXPECT_EQ(hex(unit.read(2)), hex(kAck));
    unit.send(frameOf(text));
    EXPECT_EQ(hex(unit.read(2)), hex(kAck));
}

}  // namespace rslinktest
