#include "rslink/core/receive_path.h"

#include <cstring>
#include <ostream>

#include "rslink/core/frame.h"

namespace rslink::core {

using P = ReceivePath;

// A time-out is 5000 ms without the expected byte; no timer runs in RX_IDLE.
// A failed read outside a frame drops the exchange; inside one it asks the
// device to send the frame again.
constexpr std::array<P::Row, RX_STATE_COUNT> P::kRows = {{
    // state            name               on byte            time-out          read error
    {RX_IDLE,         "RX_IDLE",         &P::onIdle,        {false, RX_IDLE},     {true, RX_IDLE}},
    {RX_WAIT_ENQ,     "RX_WAIT_ENQ",     &P::onWaitEnq,     {true, RX_IDLE},      {true, RX_IDLE}},
    // RX_WAIT_DLE's time-out: the device did not begin again.
    {RX_WAIT_DLE,     "RX_WAIT_DLE",     &P::onWaitDle,     {false, RX_IDLE},     {true, RX_IDLE}},
    {RX_WAIT_CONTROL, "RX_WAIT_CONTROL", &P::onWaitControl, {true, RX_WAIT_DLE},  {true, RX_IDLE}},
    {RX_LEN_HIGH,     "RX_LEN_HIGH",     &P::onLenHigh,     {true, RX_WAIT_DLE},  {true, RX_WAIT_DLE}},
    {RX_LEN_LOW,      "RX_LEN_LOW",      &P::onLenLow,      {true, RX_WAIT_DLE},  {true, RX_WAIT_DLE}},
    {RX_TEXT,         "RX_TEXT",         &P::onText,        {true, RX_WAIT_DLE},  {true, RX_WAIT_DLE}},
    {RX_TEXT_DLE,     "RX_TEXT_DLE",     &P::onTextDle,     {true, RX_WAIT_DLE},  {true, RX_WAIT_DLE}},
    {RX_TEXT_ETX,     "RX_TEXT_ETX",     &P::onTextEtx,     {true, RX_WAIT_DLE},  {true, RX_WAIT_DLE}},
    {RX_CRC_LOW,      "RX_CRC_LOW",      &P::onCrcLow,      {true, RX_WAIT_DLE},  {true, RX_WAIT_DLE}},
    {RX_CRC_HIGH,     "RX_CRC_HIGH",     &P::onCrcHigh,     {true, RX_WAIT_DLE},  {true, RX_WAIT_DLE}},
}};

// Row i describes state i, and every state has a name and a byte handler.
constexpr bool P::rowsInOrder() {
    for (size_t i = 0; i < kRows.size(); ++i)
        if (kRows[i].state != static_cast<RxState>(i) || kRows[i].name == nullptr ||
            kRows[i].onByte == nullptr)
            return false;
    return true;
}

const char *stateName(RxState state) {
#ifndef VALDOR_NO_CONSTEXPR_TABLE_CHECKS
    static_assert(ReceivePath::rowsInOrder(), "one row per state, in order");
#endif
    if (state < 0 || state >= RX_STATE_COUNT) return "RX_?";
    return ReceivePath::kRows[state].name;
}

std::ostream &operator<<(std::ostream &out, RxState state) { return out << stateName(state); }

ReceivePath::ReceivePath(LinePort &port, Timer &timer, BufferPool &pool,
                         ReceiveListener &listener)
    : port_(port), timer_(timer), pool_(pool), listener_(listener) {}

void ReceivePath::onByte(uint8_t byte) {
    std::lock_guard lock(mutex_);
    timer_.cancel();
    (this->*kRows[state_.load()].onByte)(byte);
}

void ReceivePath::onReadError() {
    std::lock_guard lock(mutex_);
    timer_.cancel();
    react(kRows[state_.load()].onReadError);
}

void ReceivePath::onTimer(uint64_t arming) {
    std::lock_guard lock(mutex_);
    if (!timer_.claim(arming) || state_.load() == RX_IDLE) return;
    react(kRows[state_.load()].onTimeout);
}

void ReceivePath::grantInbound() {
    std::lock_guard lock(mutex_);
    timer_.cancel();
    busy_.store(true);
    writePair(ACK);  // its outcome is not looked at: the device's frame decides
    wait(RX_WAIT_DLE);
}

void ReceivePath::reset() {
    std::lock_guard lock(mutex_);
    timer_.cancel();
    state_.store(RX_IDLE);
    busy_.store(false);
}

void ReceivePath::stopWaiting() {
    std::lock_guard lock(mutex_);
    closing_ = true;
    if (cutAtClose(state_.load())) {
        timer_.cancel();
        moveTo(RX_IDLE);
    }
}

// Waits for the device to begin: cut short once a close has begun.
bool ReceivePath::cutAtClose(RxState state) const {
    return closing_ && (state == RX_WAIT_ENQ || state == RX_WAIT_DLE);
}

void ReceivePath::react(const Reaction &reaction) {
    if (reaction.writeNak) writePair(NAK);
    if (reaction.next == RX_IDLE)
        moveTo(RX_IDLE);
    else
        wait(reaction.next);
}

// ---- byte handlers, one per state -------------------------------------------

void ReceivePath::onIdle(uint8_t byte) {
    if (byte != DLE) return;
    busy_.store(true);
    wait(RX_WAIT_ENQ);
}

void ReceivePath::onWaitEnq(uint8_t byte) {
    if (byte == ENQ)
        answerBid();
    else
        moveTo(RX_IDLE);
}

void ReceivePath::onWaitDle(uint8_t byte) { wait(byte == DLE ? RX_WAIT_CONTROL : RX_WAIT_DLE); }

void ReceivePath::onWaitControl(uint8_t byte) {
    if (byte == STX) {
        startFrame();
        wait(RX_LEN_HIGH);
    } else if (byte == ENQ) {
        answerBid();  // the device bids again
    } else if (byte == ETX || byte == ACK || byte == NAK) {
        if (!writePair(NAK)) writePair(NAK);
        moveTo(RX_IDLE);
    } else {
        wait(RX_WAIT_DLE);
    }
}

void ReceivePath::onLenHigh(uint8_t byte) {
    addToCrc(byte);
    length_ = static_cast<uint32_t>(byte) << 8;
    wait(RX_LEN_LOW);
}

void ReceivePath::onLenLow(uint8_t byte) {
    addToCrc(byte);
    length_ += byte;
    remaining_ = length_;
    // A text that no buffer can hold, or none at all, is rejected once the
    // frame is over, so the line stays in step with the device.
    discard_ = length_ == 0 || length_ > BufferPool::kSize;
    wait(remaining_ == 0 ? RX_TEXT_DLE : RX_TEXT);
}

void ReceivePath::onText(uint8_t byte) {
    addToCrc(byte);
    if (!discard_) text_[position_++] = byte;
    if (--remaining_ == 0)
        wait(RX_TEXT_DLE);
    else
        restartTimer();
}

void ReceivePath::onTextDle(uint8_t byte) {
    if (byte != DLE) return reject();
    addToCrc(DLE);
    wait(RX_TEXT_ETX);
}

void ReceivePath::onTextEtx(uint8_t byte) {
    if (byte != ETX) return reject();
    addToCrc(ETX);
    wait(RX_CRC_LOW);
}

void ReceivePath::onCrcLow(uint8_t byte) {
    receivedCrc_ = byte;
    wait(RX_CRC_HIGH);
}

void ReceivePath::onCrcHigh(uint8_t byte) {
    receivedCrc_ = static_cast<uint16_t>(receivedCrc_ | (byte << 8));
    if (!discard_ && receivedCrc_ == crc_)
        accept();
    else
        reject();
}

// ---- actions -------------------------------------------------------------

void ReceivePath::answerBid() {
    if (writePair(ACK)) {
        wait(RX_WAIT_DLE);
    } else {
        writePair(NAK);
        moveTo(RX_IDLE);
    }
}

void ReceivePath::accept() {
    if (!writePair(ACK)) {
        writePair(NAK);
        moveTo(RX_IDLE);
        return;
    }
    // Already acknowledged: with every buffer lent the text is dropped.
    if (uint8_t *buffer = pool_.take()) {
        std::memcpy(buffer, text_.data(), length_);
        if (!listener_.delivered(buffer, length_)) pool_.release(buffer);
    }
    moveTo(RX_IDLE);
}

void ReceivePath::reject() {
    if (writePair(NAK)) {
        wait(RX_WAIT_DLE);  // the device is expected to send the frame again
    } else {
        writePair(NAK);
        moveTo(RX_IDLE);
    }
}

void ReceivePath::startFrame() {
    length_ = 0;
    remaining_ = 0;
    position_ = 0;
    receivedCrc_ = 0;
    crc_ = 0;
    discard_ = false;
}

void ReceivePath::addToCrc(uint8_t byte) { crc_ = crcUpdate(crc_, byte); }

bool ReceivePath::writePair(uint8_t control) {
    const uint8_t pair[2] = {DLE, control};
    return port_.write(pair, sizeof pair);
}

// Every way back to idle clears receive-busy, also after a failed answer, so
// that no send exchange and no close waits for it for ever.
void ReceivePath::moveTo(RxState next) {
    if (cutAtClose(next)) next = RX_IDLE;
    state_.store(next);
    if (next == RX_IDLE && busy_.exchange(false)) listener_.becameIdle();
}

void ReceivePath::wait(RxState next) {
    moveTo(next);
    if (state_.load() != RX_IDLE) restartTimer();
}

void ReceivePath::restartTimer() {
    timer_.restart(kRxWaitMs, [this](uint64_t arming) { onTimer(arming); });
}

}  // namespace rslink::core
