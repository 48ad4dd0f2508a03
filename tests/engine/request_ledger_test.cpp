// The worker's ledger of requests: the answer to each, the bound of requests
// out at once and of requests awaiting an answer.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "valdor/engine/request_ledger.h"

using namespace valdor;
using Bytes = std::vector<uint8_t>;

namespace {

// A request of command `code`, told apart from others by `tag`.
Bytes request(uint8_t code, uint8_t tag = 0) { return {0x60, code, 0x01, tag, 0x1C}; }
Bytes response(uint8_t code) { return {0xE0, code, 0x00, 0x00}; }

// Sends a request and lets the driver acknowledge it at once.
void acknowledged(RequestLedger &ledger, const Bytes &bytes, Owner owner) {
    MSG_BLK *block = ledger.place(bytes, owner);
    ASSERT_NE(block, nullptr);
    ledger.outcome(*block, true);
}

TEST(RequestLedger, AnAnswerTakesTheOldestAwaitedRequestOfItsCommandCodeOnce) {
    RequestLedger ledger;
    acknowledged(ledger, request(0x01, 1), Owner::Operator);
    acknowledged(ledger, request(0x03, 2), Owner::Download);
    acknowledged(ledger, request(0x01, 3), Owner::Automatic);

    auto answered = ledger.takeAnswered(response(0x03));
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->bytes, request(0x03, 2));
    EXPECT_EQ(answered->owner, Owner::Download);

    answered = ledger.takeAnswered(response(0x01));
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->owner, Owner::Operator) << "the oldest first";
    answered = ledger.takeAnswered(response(0x01));
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->owner, Owner::Automatic);

    EXPECT_FALSE(ledger.takeAnswered(response(0x01))) << "each request is answered once";
    EXPECT_FALSE(ledger.takeAnswered(response(0x03)));
    EXPECT_TRUE(ledger.empty());
}

TEST(RequestLedger, OnlyAnAcknowledgedRequestAwaitsAnAnswer) {
    RequestLedger ledger;
    MSG_BLK *sent = ledger.place(request(0x01), Owner::Operator);
    ASSERT_NE(sent, nullptr);
    EXPECT_EQ(sent->code, BLK_SEND);
    EXPECT_EQ(Bytes(sent->data, sent->data + sent->length), request(0x01));
    EXPECT_FALSE(ledger.takeAnswered(response(0x01))) << "not yet acknowledged";
    EXPECT_FALSE(ledger.empty());

    ledger.outcome(*sent, false);
    EXPECT_TRUE(ledger.empty()) << "a failed request awaits nothing";
    EXPECT_FALSE(ledger.takeAnswered(response(0x01)));

    acknowledged(ledger, request(0x01), Owner::Operator);
    EXPECT_FALSE(ledger.takeAnswered(Bytes{0xE0})) << "a frame too short to name a command";
    EXPECT_FALSE(ledger.takeAnswered(Bytes{}));
    EXPECT_TRUE(ledger.takeAnswered(response(0x01)));
}

TEST(RequestLedger, BeyondThoseInFlightRequestsAreHeldBackInOrder) {
    RequestLedger ledger;
    std::vector<MSG_BLK *> out;
    std::set<const uint8_t *> buffers;
    for (uint8_t i = 0; i < RequestLedger::kInFlight; ++i) {
        out.push_back(ledger.place(request(0x01, i), Owner::Operator));
        ASSERT_NE(out.back(), nullptr) << int(i);
        buffers.insert(out.back()->data);
    }
    EXPECT_EQ(buffers.size(), RequestLedger::kInFlight) << "each request has a buffer of its own";
    EXPECT_EQ(ledger.place(request(0x02, 100), Owner::Download), nullptr);
    EXPECT_EQ(ledger.place(request(0x02, 101), Owner::Operator), nullptr);
    EXPECT_EQ(ledger.held(), 2u);
    EXPECT_EQ(ledger.placeHeld(), nullptr) << "no block is free yet";

    // An outcome frees a block, and the oldest held request takes it.
    const uint8_t *freed = out[5]->data;
    ledger.outcome(*out[5], true);
    MSG_BLK *next = ledger.placeHeld();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->data, freed);
    EXPECT_EQ(Bytes(next->data, next->data + next->length), request(0x02, 100));
    EXPECT_EQ(ledger.placeHeld(), nullptr);

    // A block the driver refused is free again and returns its owner.
    EXPECT_EQ(ledger.withdraw(*next), Owner::Download);
    next = ledger.placeHeld();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(Bytes(next->data, next->data + next->length), request(0x02, 101));
    EXPECT_EQ(ledger.held(), 0u);
}

TEST(RequestLedger, OfMoreThanTheBoundOfAwaitedRequestsTheOldestGo) {
    RequestLedger ledger;
    const size_t sent = RequestLedger::kMostAwaiting + 3;
    for (size_t i = 0; i < sent; ++i) acknowledged(ledger, request(0x01, static_cast<uint8_t>(i)), Owner::Operator);
    EXPECT_EQ(ledger.awaiting(), RequestLedger::kMostAwaiting);
    for (size_t i = sent - RequestLedger::kMostAwaiting; i < sent; ++i) {
        auto answered = ledger.takeAnswered(response(0x01));
        ASSERT_TRUE(answered) << i;
        EXPECT_EQ(answered->bytes, request(0x01, static_cast<uint8_t>(i)));
    }
    EXPECT_FALSE(ledger.takeAnswered(response(0x01)));
}

TEST(RequestLedger, DisownedRequestsAreAnsweredForNobody) {
    RequestLedger ledger;
    acknowledged(ledger, request(0x13, 1), Owner::Oplog);  // awaiting
    MSG_BLK *out = ledger.place(request(0x13, 2), Owner::Oplog);
    for (size_t i = 1; i < RequestLedger::kInFlight; ++i) ledger.place(request(0x01), Owner::Operator);
    EXPECT_EQ(ledger.place(request(0x13, 3), Owner::Oplog), nullptr);  // held back
    ASSERT_TRUE(ledger.holds(Owner::Oplog));

    ledger.disown(Owner::Oplog);
    EXPECT_FALSE(ledger.holds(Owner::Oplog));
    EXPECT_TRUE(ledger.holds(Owner::Nobody));
    ledger.outcome(*out, true);
    for (uint8_t tag : {1, 2}) {
        auto answered = ledger.takeAnswered(response(0x13));
        ASSERT_TRUE(answered);
        EXPECT_EQ(answered->bytes, request(0x13, tag));
        EXPECT_EQ(answered->owner, Owner::Nobody);
    }
    MSG_BLK *held = ledger.placeHeld();
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(ledger.withdraw(*held), Owner::Nobody);
}

TEST(RequestLedger, DroppingHeldRequestsKeepsTheOperatorsAndClearEmptiesAll) {
    RequestLedger ledger;
    for (size_t i = 0; i < RequestLedger::kInFlight; ++i) ledger.place(request(0x01), Owner::Operator);
    ledger.place(request(0x05, 1), Owner::Automatic);
    ledger.place(request(0x10, 2), Owner::Operator);
    ledger.place(request(0xD1, 3), Owner::Download);
    ledger.dropHeldExcept(Owner::Operator);
    EXPECT_EQ(ledger.held(), 1u);
    EXPECT_FALSE(ledger.holds(Owner::Automatic));
    EXPECT_FALSE(ledger.holds(Owner::Download));

    ledger.clear();
    EXPECT_TRUE(ledger.empty());
    EXPECT_FALSE(ledger.holds(Owner::Operator));
    EXPECT_NE(ledger.place(request(0x01), Owner::Operator), nullptr) << "every block is free again";
}

}  // namespace
