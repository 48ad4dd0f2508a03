// The client side of the driver for tests: a thread queue that takes the
// driver's notifications, and the unit's side of common exchanges on a peer.
#pragma once

#include <chrono>
#include <deque>
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

// A send block for `text` (the driver never writes to it).
inline MSG_BLK sendBlock(const Bytes &text) {
    return MSG_BLK{BLK_SEND, 0, 0, static_cast<uint32_t>(text.size()), const_cast<uint8_t *>(text.data())};
}

class Client {
public:
    Client() : id(RSQueueCreate()) {}
    ~Client() { RSQueueDestroy(); }

    std::optional<Notice> next(milliseconds timeout = milliseconds(15000)) {
        RS_MSG m{};
        if (RSGetMessageTimeout(&m, static_cast<int>(timeout.count())) != RS_GOT_MESSAGE) return std::nullopt;
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

    // Hands a block to the driver; it stays put in `blocks` till the end, as
    // the driver answers with its address.
    MSG_BLK &post(const MSG_BLK &block) {
        blocks.push_back(block);
        EXPECT_EQ(RSSend(&blocks.back()), 0);
        return blocks.back();
    }
    MSG_BLK &queue(const Bytes &text) { return post(sendBlock(text)); }
    // Gives the buffer of a received text back.
    void release(const Notice &n) { post({BLK_RELEASE, 0, 0, 0, n.copy.data}); }

    const unsigned long id;
    std::deque<MSG_BLK> blocks;
};

// The unit takes one request: grants the bid, takes the frame, acknowledges.
// `Unit`: a PtyPeer, or a NetPeer for a network port.
template <class Unit>
void unitTakesRequest(Unit &unit, const Bytes &text) {
    EXPECT_EQ(hex(unit.read(2)), hex(kEnq));
    unit.send(kAck);
    const Bytes frame = frameOf(text);
    EXPECT_EQ(hex(unit.read(frame.size())), hex(frame));
    unit.send(kAck);
}

// The unit sends one text: bids, sends the frame once granted, expects ACK.
template <class Unit>
void unitSends(Unit &unit, const Bytes &text) {
    unit.send(kEnq);
    EXPECT_EQ(hex(unit.read(2)), hex(kAck));
    unit.send(frameOf(text));
    EXPECT_EQ(hex(unit.read(2)), hex(kAck));
}

}  // namespace rslinktest
