#include "valdor/engine/request_ledger.h"

#include <algorithm>
#include <cstring>

namespace valdor {
namespace {

// The device command code of a request or of the request a response
// answers (DH1): the second byte of either text.
std::optional<uint8_t> commandCode(std::span<const uint8_t> text) {
    if (text.size() < 2) return std::nullopt;
    return text[1];
}

}  // namespace

RequestLedger::Slot *RequestLedger::freeSlot() {
    for (auto &slot : slots_)
        if (!slot.busy) return &slot;
    return nullptr;
}

MSG_BLK *RequestLedger::fill(Slot &slot, std::span<const uint8_t> bytes, Owner owner) {
    const size_t length = std::min(bytes.size(), slot.buffer.size());
    std::memcpy(slot.buffer.data(), bytes.data(), length);
    slot.block = MSG_BLK{BLK_SEND, 0, 0, static_cast<uint32_t>(length), slot.buffer.data()};
    slot.busy = true;
    slot.owner = owner;
    return &slot.block;
}

MSG_BLK *RequestLedger::place(std::span<const uint8_t> bytes, Owner owner) {
    Slot *slot = freeSlot();
    if (!slot) {
        held_.push_back({std::vector<uint8_t>(bytes.begin(), bytes.end()), owner});
        return nullptr;
    }
    return fill(*slot, bytes, owner);
}

MSG_BLK *RequestLedger::placeHeld() {
    if (held_.empty()) return nullptr;
    Slot *slot = freeSlot();
    if (!slot) return nullptr;
    Request next = std::move(held_.front());
    held_.pop_front();
    return fill(*slot, next.bytes, next.owner);
}

Owner RequestLedger::withdraw(const MSG_BLK &block) {
    for (auto &slot : slots_) {
        if (&slot.block != &block) continue;
        slot.busy = false;
        return slot.owner;
    }
    return Owner::Nobody;
}

void RequestLedger::outcome(const MSG_BLK &notification, bool acknowledged) {
    for (auto &slot : slots_) {
        if (!slot.busy || slot.buffer.data() != notification.data) continue;
        slot.busy = false;
        if (acknowledged) {
            if (awaiting_.size() >= kMostAwaiting) awaiting_.pop_front();
            const size_t n = std::min<size_t>(notification.length, slot.buffer.size());
            awaiting_.push_back({std::vector<uint8_t>(slot.buffer.begin(), slot.buffer.begin() + n), slot.owner});
        }
        return;
    }
}

std::optional<RequestLedger::Request> RequestLedger::takeAnswered(std::span<const uint8_t> response) {
    const auto code = commandCode(response);
    if (!code) return std::nullopt;
    for (auto it = awaiting_.begin(); it != awaiting_.end(); ++it) {
        if (commandCode(it->bytes) != code) continue;
        Request answered = std::move(*it);
        awaiting_.erase(it);
        return answered;
    }
    return std::nullopt;
}

void RequestLedger::disown(Owner owner) {
    for (auto &slot : slots_)
        if (slot.busy && slot.owner == owner) slot.owner = Owner::Nobody;
    for (auto &r : held_)
        if (r.owner == owner) r.owner = Owner::Nobody;
    for (auto &r : awaiting_)
        if (r.owner == owner) r.owner = Owner::Nobody;
}

void RequestLedger::dropHeldExcept(Owner keep) {
    std::erase_if(held_, [keep](const Request &r) { return r.owner != keep; });
}

bool RequestLedger::holds(Owner owner) const {
    auto of = [owner](const Request &r) { return r.owner == owner; };
    return std::any_of(slots_.begin(), slots_.end(), [owner](const Slot &s) { return s.busy && s.owner == owner; }) ||
           std::any_of(held_.begin(), held_.end(), of) || std::any_of(awaiting_.begin(), awaiting_.end(), of);
}

bool RequestLedger::empty() const {
    return held_.empty() && awaiting_.empty() &&
           std::none_of(slots_.begin(), slots_.end(), [](const Slot &s) { return s.busy; });
}

void RequestLedger::clear() {
    for (auto &slot : slots_) slot.busy = false;
    held_.clear();
    awaiting_.clear();
}

}  // namespace valdor
