// Which answer belongs to which request.  Each request goes to the driver in
// a block and a buffer of its own, because the driver reads them only when
// its thread takes the request, which may be long after RSSend returned; up
// to kInFlight are out at once and the rest are held back in order.  Once
// acknowledged, a request awaits its answer: the first frame whose DH1 is
// its command code, the oldest such request first, each answered at most
// once.  A unit that never answers some of them must not make the list grow
// for ever: beyond kMostAwaiting, the oldest goes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "rslink/rslink.h"
#include "valdor/engine/request_builder.h"

namespace valdor {

// Who goes on when a request is answered.  Each continuation reacts only to
// the answer to a request it sent itself, so that the answer to a command
// pressed in between, a late answer or a frame the unit sends on its own
// never moves a transfer or a mode along.
enum class Owner : uint8_t {
    Operator,   // a button's command: may start the repeat mode or the sequence
    Automatic,  // sent by the repeat mode or the sequence
    Download,
    Oplog,
    Nobody,     // its answer is shown and goes no further
};

class RequestLedger {
public:
    static constexpr size_t kInFlight = 32;
    static constexpr size_t kMostAwaiting = 64;

    // A request held back, or one awaiting its answer.
    struct Request {
        std::vector<uint8_t> bytes;
        Owner owner;
    };

    // Takes a request: the block to hand to the driver, or null when
    // kInFlight are out already and it is held back behind the others.
    MSG_BLK *place(std::span<const uint8_t> bytes, Owner owner);
    // The oldest request held back, placed now that a block is free; null
    // when none is held or none is free.
    MSG_BLK *placeHeld();
    // The driver refused `block` (one that place or placeHeld returned): it
    // is free again.  Returns the owner of the request it carried.
    Owner withdraw(const MSG_BLK &block);
    // The driver's outcome of a request, which names it by its `data`;
    // acknowledged, the request now awaits its answer.
    void outcome(const MSG_BLK &notification, bool acknowledged);

    // The request `response` answers, off the ledger; nothing when it
    // answers none.
    std::optional<Request> takeAnswered(std::span<const uint8_t> response);

    // Requests of `owner` out, held or awaiting now belong to nobody.
    void disown(Owner owner);
    // Requests held back are dropped, except those of `keep`.
    void dropHeldExcept(Owner keep);
    // A request of `owner` is out, held or awaiting.
    bool holds(Owner owner) const;
    // Nothing is out, held or awaiting.
    bool empty() const;
    void clear();

    size_t awaiting() const { return awaiting_.size(); }
    size_t held() const { return held_.size(); }

private:
    struct Slot {
        MSG_BLK block{};
        std::array<uint8_t, kRequestBufferSize> buffer{};
        bool busy = false;
        Owner owner = Owner::Nobody;
    };
    Slot *freeSlot();
    MSG_BLK *fill(Slot &slot, std::span<const uint8_t> bytes, Owner owner);

    std::array<Slot, kInFlight> slots_{};
    std::deque<Request> held_;
    std::deque<Request> awaiting_;
};

}  // namespace valdor
