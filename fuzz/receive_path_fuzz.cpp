// The receive state machine fed arbitrary byte streams interleaved with
// time-outs, read errors, failed writes, failed posts and buffers given back.
// After every event: receive-busy is set exactly while the path is not idle,
// a timer guards every wait, only DLE ACK and DLE NAK are written, and a text
// is delivered only for a frame that really arrived whole with a good check
// code, into a pool buffer, with the bytes of that frame.
#include <cstring>
#include <deque>
#include <optional>

#include "fuzz_line.h"
#include "rslink/core/buffer_pool.h"
#include "rslink/core/receive_path.h"

namespace {

using namespace fuzzline;
using rslink::core::BufferPool;
using rslink::core::ReceivePath;
using rslink::core::RX_CRC_HIGH;
using rslink::core::RX_IDLE;

class Port : public rslink::core::LinePort {
public:
    rslink::core::ReadResult read(uint8_t *, size_t) override { return {}; }
    bool write(const uint8_t *data, size_t size) override { return log.write(data, size); }
    void wake() override {}
    WriteLog log;
};

struct Delivery {
    uint8_t *buffer;
    uint32_t length;
};

class Client : public rslink::core::ReceiveListener {
public:
    explicit Client(BufferPool &pool) : pool_(pool) {}
    bool delivered(uint8_t *buffer, uint32_t length) override {
        FUZZ_CHECK(pool_.indexOf(buffer) >= 0, "delivered outside the pool");
        FUZZ_CHECK(length >= 1 && length <= BufferPool::kSize, "delivered length out of range");
        last = Delivery{buffer, length};
        if (failNextPost) {
            failNextPost = false;
            return false;
        }
        lent.push_back(*last);
        return true;
    }
    void becameIdle() override {}

    bool failNextPost = false;
    std::optional<Delivery> last;
    std::deque<Delivery> lent;

private:
    BufferPool &pool_;
};

// The line's events so far: a byte, or -1 for a time-out, a read error or a
// grant.
using History = std::vector<int>;

// The text of the frame that began with the STX at `stx`, if the events
// since are all bytes that make a whole good frame: length, text, DLE ETX,
// check code.
std::optional<std::vector<uint8_t>> goodFrameFrom(const History &h, size_t stx) {
    if (stx + 3 > h.size()) return std::nullopt;
    for (size_t i = stx; i < h.size(); ++i)
        if (h[i] < 0) return std::nullopt;
    const size_t length = static_cast<size_t>(h[stx + 1] * 256 + h[stx + 2]);
    if (length == 0 || length > BufferPool::kSize) return std::nullopt;
    if (h.size() != stx + 1 + length + 6) return std::nullopt;
    std::vector<uint8_t> covered;
    for (size_t i = stx + 1; i < h.size() - 2; ++i) covered.push_back(static_cast<uint8_t>(h[i]));
    if (covered[2 + length] != rslink::DLE || covered[3 + length] != rslink::ETX) return std::nullopt;
    const uint16_t crc = rslink::crc16(covered.data(), covered.size());
    if ((crc & 0xFF) != h[h.size() - 2] || (crc >> 8) != h[h.size() - 1]) return std::nullopt;
    return std::vector<uint8_t>(covered.begin() + 2, covered.begin() + 2 + static_cast<long>(length));
}

class Rig {
public:
    Rig() : path_(port_, timer_, pool_, client_) {}

    void step(const Step &s) {
        const auto before = path_.state();
        const size_t writesBefore = port_.log.writes.size();
        const bool bufferFree = pool_.lent() < static_cast<int>(BufferPool::kCount);
        const bool writeFails = port_.log.failNext;
        client_.last.reset();
        record(s);
        apply(s);
        checkWrites(writesBefore);
        checkMarks();
        if (before == rslink::core::RX_WAIT_CONTROL && path_.state() == rslink::core::RX_LEN_HIGH)
            frameStart_ = history_.size() - 1;
        if (s.event != Event::Byte) {
            FUZZ_CHECK(!client_.last, "delivered without a byte");
            return;
        }
        // Only the check code's last byte completes a frame.
        if (before != RX_CRC_HIGH) {
            FUZZ_CHECK(!client_.last, "delivered before the frame was complete");
            return;
        }
        const auto frame = goodFrameFrom(history_, frameStart_);
        const bool shouldDeliver = frame && !writeFails && bufferFree;
        if (client_.last) {
            FUZZ_CHECK(frame.has_value(), "delivered a frame that did not arrive");
            FUZZ_CHECK(client_.last->length == frame->size(), "delivered length differs");
            FUZZ_CHECK(std::memcmp(client_.last->buffer, frame->data(), frame->size()) == 0,
                       "delivered text differs");
            FUZZ_CHECK(isControlPair(port_.log.writes.back(), rslink::ACK), "delivered without DLE ACK");
        } else {
            FUZZ_CHECK(!shouldDeliver, "a good frame was not delivered");
        }
    }

    // Time passes until the path is idle again; each wait must end.
    void drain() {
        for (int i = 0; i < 4 && path_.state() != RX_IDLE; ++i) {
            FUZZ_CHECK(timer_.running, "waiting with no timer");
            step({Event::Timeout});
        }
        FUZZ_CHECK(path_.state() == RX_IDLE, "time-outs did not bring the path back to idle");
        while (!client_.lent.empty()) step({Event::Release});
        FUZZ_CHECK(pool_.lent() == 0, "a buffer was lost");
    }

private:
    void apply(const Step &s) {
        switch (s.event) {
            case Event::Byte: return path_.onByte(s.byte);
            case Event::Timeout: timer_.fire(); return;
            case Event::ReadError: return path_.onReadError();
            case Event::FailNextWrite: port_.log.failNext = true; return;
            case Event::FailNextPost: client_.failNextPost = true; return;
            case Event::Release: return releaseOldest();
            case Event::Grant:
                // The driver yields only while the receive side is idle.
                if (path_.state() == RX_IDLE) path_.grantInbound();
                return;
            case Event::Nothing:
            case Event::End: return;
        }
    }

    // Only what happens on the line is history: the client's own doings
    // (giving buffers back, failing a post) do not break a frame.
    void record(const Step &s) {
        if (s.event == Event::Byte)
            history_.push_back(s.byte);
        else if (s.event == Event::Timeout || s.event == Event::ReadError)
            history_.push_back(-1);
        else if (s.event == Event::Grant && path_.state() == RX_IDLE)
            history_.push_back(-1);
    }

    void releaseOldest() {
        if (client_.lent.empty()) return;
        FUZZ_CHECK(pool_.release(client_.lent.front().buffer), "a lent buffer was refused back");
        client_.lent.pop_front();
    }

    void checkWrites(size_t from) {
        for (size_t i = from; i < port_.log.writes.size(); ++i) {
            const auto &w = port_.log.writes[i];
            FUZZ_CHECK(isControlPair(w, rslink::ACK) || isControlPair(w, rslink::NAK),
                       "wrote something other than DLE ACK or DLE NAK");
        }
        // Keep the log short; only the newest writes are looked at.
        if (port_.log.writes.size() > 64) port_.log.writes.erase(port_.log.writes.begin(), port_.log.writes.end() - 1);
    }

    void checkMarks() {
        const bool idle = path_.state() == RX_IDLE;
        FUZZ_CHECK(path_.busy() == !idle, "receive-busy does not match the state");
        FUZZ_CHECK(idle || timer_.running, "waiting with no timer");
        FUZZ_CHECK(pool_.lent() == static_cast<int>(client_.lent.size()), "pool and client disagree");
    }

    Port port_;
    ManualTimer timer_;
    BufferPool pool_;
    Client client_{pool_};
    ReceivePath path_;
    History history_;
    size_t frameStart_ = 0;  // where the frame being taken began (its STX)
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Rig rig;
    Script script(data, size);
    for (Step s = script.next(); s.event != Event::End; s = script.next()) rig.step(s);
    rig.drain();
    return 0;
}
