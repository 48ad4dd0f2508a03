// The telnet and COM-PORT-OPTION codec against the server's side of the
// conversation, byte by byte: offers and answers, the line settings and
// what the server answered to them, the data's own escaping, cuts.
#include <gtest/gtest.h>

#include <random>

#include "rslink/core/telnet_codec.h"
#include "support/pty_peer.h"

using namespace testsupport;
using rslink::core::Setting;
using rslink::core::TelnetCodec;
using rslink::core::TelnetEvent;
using rslink::core::TelnetOutput;
using Kind = TelnetEvent::Kind;

namespace {

struct Fed {
    Bytes data;
    TelnetOutput out;
};

Fed feed(TelnetCodec &codec, const std::string &server) {
    Fed fed;
    fed.data = hex(server);
    fed.data.resize(codec.receive(fed.data.data(), fed.data.size(), fed.out));
    return fed;
}

std::string reply(TelnetCodec &codec, const std::string &server) {
    return hex(feed(codec, server).out.reply);
}

// A codec that made its offers and was told DO COM-PORT-OPTION.
TelnetCodec accepted(const rslink::core::LineRequest &line = {}) {
    TelnetCodec codec(line);
    Bytes offers;
    codec.start(offers);
    feed(codec, "FF FD 2C");
    return codec;
}

Bytes encoded(const TelnetCodec &codec, const std::string &data) {
    Bytes out;
    const Bytes in = hex(data);
    codec.encode(in.data(), in.size(), out);
    return out;
}

const std::string kSettings =
    "FF FA 2C 01 00 00 25 80 FF F0 FF FA 2C 02 08 FF F0 FF FA 2C 03 03 FF F0 "
    "FF FA 2C 04 01 FF F0 FF FA 2C 05 01 FF F0 FF FA 2C 05 08 FF F0 "
    "FF FA 2C 05 0B FF F0 FF FA 2C 0C 03 FF F0";

}  // namespace

TEST(TelnetCodec, OffersThenSendsTheSettingsOnceOnDoComPort) {
    TelnetCodec codec;
    Bytes offers;
    codec.start(offers);
    codec.start(offers);
    EXPECT_EQ(hex(offers), "FF FB 2C FF FB 00 FF FD 00");
    EXPECT_EQ(codec.comPort(), TelnetCodec::ComPort::Offered);

    const Fed agreed = feed(codec, "FF FD 2C");
    EXPECT_EQ(hex(agreed.out.reply), kSettings);
    EXPECT_EQ(agreed.out.events, std::vector<TelnetEvent>{{Kind::ComPortAccepted}});
    EXPECT_EQ(codec.comPort(), TelnetCodec::ComPort::Accepted);

    // Answers to our own offers, and repeats, change nothing: no reply.
    EXPECT_FALSE(codec.sendsBinary());
    const Fed repeats = feed(codec, "FF FD 00 FF FB 00 FF FD 2C FF FD 00 FF FB 00");
    EXPECT_TRUE(repeats.out.reply.empty());
    EXPECT_TRUE(repeats.out.events.empty());
    EXPECT_TRUE(codec.sendsBinary());
    EXPECT_TRUE(codec.receivesBinary());
}

TEST(TelnetCodec, AcceptsOnlyBinarySgaAndComPortAndAnswersOnlyChanges) {
    TelnetCodec codec = accepted();
    EXPECT_EQ(reply(codec, "FF FB 01"), "FF FE 01");         // WILL ECHO: DONT
    EXPECT_EQ(reply(codec, "FF FD 18 FF FD 01"), "FF FC 18 FF FC 01");
    EXPECT_EQ(reply(codec, "FF FC 01 FF FE 18"), "");        // already off
    EXPECT_EQ(reply(codec, "FF FB 03 FF FD 03"), "FF FD 03 FF FB 03");
    EXPECT_EQ(reply(codec, "FF FB 03 FF FD 03"), "");        // already on
    EXPECT_EQ(reply(codec, "FF FC 03 FF FC 03"), "FF FE 03");
    // Before our offers went out, the server's own DO is agreed to, and
    // start() does not offer it again; a DONT for an option never offered
    // is no refusal.
    TelnetCodec early;
    const Fed first = feed(early, "FF FD 00 FF FE 2C");
    EXPECT_EQ(hex(first.out.reply), "FF FB 00");
    EXPECT_TRUE(first.out.events.empty());
    Bytes offers;
    early.start(offers);
    EXPECT_EQ(hex(offers), "FF FB 2C FF FD 00");
}

TEST(TelnetCodec, ComPortRefusedAtAnyTimeAndForGood) {
    TelnetCodec offered;
    Bytes offers;
    offered.start(offers);
    Fed fed = feed(offered, "FF FE 2C");
    EXPECT_EQ(hex(fed.out.reply), "");
    EXPECT_EQ(fed.out.events, std::vector<TelnetEvent>{{Kind::ComPortRefused}});
    EXPECT_EQ(offered.comPort(), TelnetCodec::ComPort::Refused);
    EXPECT_EQ(reply(offered, "FF FD 2C"), "FF FC 2C");

    TelnetCodec later = accepted();
    fed = feed(later, "FF FE 2C");
    EXPECT_EQ(hex(fed.out.reply), "FF FC 2C");
    EXPECT_EQ(fed.out.events, std::vector<TelnetEvent>{{Kind::ComPortRefused}});
    EXPECT_FALSE(later.dtrControl(true, offers));

    TelnetCodec wont;
    wont.start(offers);
    EXPECT_EQ(feed(wont, "FF FC 2C").out.events, std::vector<TelnetEvent>{{Kind::ComPortRefused}});
    EXPECT_EQ(reply(wont, "FF FD 2C"), "FF FC 2C");
}

TEST(TelnetCodec, SettingsAnsweredSameOtherZeroAndLate) {
    TelnetCodec codec = accepted();
    const Fed fed = feed(codec, "FF FA 2C 65 00 00 25 80 FF F0 FF FA 2C 66 07 FF F0 "
                                "FF FA 2C 67 00 FF F0");
    EXPECT_EQ(fed.out.events.size(), 3u);
    EXPECT_EQ(fed.out.events[1], (TelnetEvent{Kind::SettingAnswered, 1}));
    EXPECT_EQ(codec.answer(Setting::BaudRate), 9600u);
    EXPECT_EQ(codec.answer(Setting::Parity), 0u);  // no value given: not refused
    EXPECT_FALSE(codec.refused(Setting::Parity));
    EXPECT_FALSE(codec.answer(Setting::StopSize));
    EXPECT_FALSE(codec.settingsAnswered());
    EXPECT_EQ(codec.refusedSettings(), "data bits 7, not 8");

    codec.endNegotiation();
    EXPECT_TRUE(feed(codec, "FF FA 2C 68 02 FF F0").out.events.empty());
    EXPECT_FALSE(codec.answer(Setting::StopSize));
    EXPECT_EQ(codec.refusedSettings(), "data bits 7, not 8");
}

TEST(TelnetCodec, RefusedSettingsLineInOrder) {
    TelnetCodec codec = accepted();
    // Stop bits first on the wire; the line keeps baud, data, parity, stop.
    feed(codec, "FF FA 2C 68 02 FF F0 FF FA 2C 67 01 FF F0 FF FA 2C 66 08 FF F0");
    EXPECT_EQ(codec.refusedSettings(), "parity NONE, not EVEN; stop bits 2, not 1");
    feed(codec, "FF FA 2C 65 00 00 4B 00 FF F0");
    EXPECT_TRUE(codec.settingsAnswered());
    EXPECT_EQ(codec.refusedSettings(),
              "baud rate 19200, not 9600; parity NONE, not EVEN; stop bits 2, not 1");

    TelnetCodec odd = accepted({9600, 7, rslink::core::Parity::Odd, rslink::core::StopSize::Two});
    feed(odd, "FF FA 2C 67 09 FF F0 FF FA 2C 68 03 FF F0");
    EXPECT_EQ(odd.refusedSettings(), "parity code 9, not ODD; stop bits 1.5, not 2");

    // Unasked (before DO COM-PORT-OPTION) or malformed: not an answer.
    TelnetCodec unasked;
    feed(unasked, "FF FA 2C 66 07 FF F0");
    EXPECT_FALSE(unasked.answer(Setting::DataSize));
    TelnetCodec codec2 = accepted();
    feed(codec2, "FF FA 2C 65 25 80 FF F0 FF FA 2C 66 FF F0");
    EXPECT_FALSE(codec2.answer(Setting::BaudRate));
    EXPECT_FALSE(codec2.answer(Setting::DataSize));
}

TEST(TelnetCodec, ByteFFDoubledOutAndUndoubledIn) {
    TelnetCodec codec = accepted();
    feed(codec, "FF FD 00 FF FB 00");
    EXPECT_EQ(hex(encoded(codec, "FF 01 FF FF 0D")), "FF FF 01 FF FF FF FF 0D");
    EXPECT_EQ(hex(feed(codec, "FF FF 01 FF FF FF FF 0D 00").data), "FF 01 FF FF 0D 00");
    // Inside commands too: a baud rate of 255 both ways.
    Bytes offers;
    TelnetCodec slow({255});
    slow.start(offers);
    EXPECT_EQ(reply(slow, "FF FD 2C").substr(0, 32), "FF FA 2C 01 00 00 00 FF FF FF F0");
    feed(slow, "FF FA 2C 65 00 00 00 FF FF FF F0");
    EXPECT_EQ(slow.answer(Setting::BaudRate), 255u);
}

TEST(TelnetCodec, CrNulOnlyWhileNotBinary) {
    TelnetCodec codec = accepted();
    feed(codec, "FF FE 00 FF FC 00");  // binary refused both ways
    EXPECT_EQ(hex(encoded(codec, "0D 0A 0D 41 0D")), "0D 00 0A 0D 00 41 0D 00");
    // A NUL after CR goes, even in the next read; CR LF stays.
    EXPECT_EQ(hex(feed(codec, "0D 00 41 0D 0A 0D").data), "0D 41 0D 0A 0D");
    EXPECT_EQ(hex(feed(codec, "00 00 42").data), "00 42");

    TelnetCodec binary = accepted();
    feed(binary, "FF FD 00 FF FB 00");
    EXPECT_EQ(hex(encoded(binary, "0D 0A 0D")), "0D 0A 0D");
    EXPECT_EQ(hex(feed(binary, "0D 00 0D 0A").data), "0D 00 0D 0A");
}

TEST(TelnetCodec, LineStateErrorBitsOnlyAndOtherNoticesIgnored) {
    TelnetCodec codec = accepted();
    for (uint8_t bit : {0x02, 0x04, 0x08, 0x10}) {
        Bytes in = hex("FF FA 2C 6A 00 FF F0");
        in[4] = static_cast<uint8_t>(bit | 0x61);  // with data ready and holding register empty
        TelnetOutput out;
        EXPECT_EQ(codec.receive(in.data(), in.size(), out), 0u);
        EXPECT_EQ(out.events, (std::vector<TelnetEvent>{{Kind::LineError, in[4]}})) << int(bit);
    }
    const Fed quiet = feed(codec, "FF FA 2C 6A E1 FF F0 FF FA 2C 6B FF FF FF F0 FF FA 2C 6C FF F0 "
                                  "FF FA 2C 6D FF F0 FF FA 2C 64 FF F0 FF F1 FF F9 41");
    EXPECT_EQ(hex(quiet.data), "41");
    EXPECT_TRUE(quiet.out.events.empty());
    EXPECT_TRUE(quiet.out.reply.empty());
}

TEST(TelnetCodec, DtrAndRtsControls) {
    TelnetCodec codec = accepted();
    Bytes out;
    EXPECT_TRUE(codec.dtrControl(false, out));
    EXPECT_TRUE(codec.rtsControl(false, out));
    EXPECT_TRUE(codec.rtsControl(true, out));
    EXPECT_EQ(hex(out), "FF FA 2C 05 09 FF F0 FF FA 2C 05 0C FF F0 FF FA 2C 05 0B FF F0");
    TelnetCodec offered;
    EXPECT_FALSE(offered.dtrControl(true, out));
}

TEST(TelnetCodec, BrokenSubnegotiationsAreDroppedNotData) {
    TelnetCodec codec = accepted();
    // IAC WILL inside a subnegotiation ends it; an overlong one is skipped.
    const Fed fed = feed(codec, "FF FA 2C 66 FF FB 01 42 FF FA 2C 64 41 41 41 41 41 41 41 41 41 41 "
                                "41 41 41 41 41 41 41 FF F0 43");
    EXPECT_EQ(hex(fed.out.reply), "FF FE 01");
    EXPECT_EQ(hex(fed.data), "42 43");
    EXPECT_FALSE(codec.answer(Setting::DataSize));
}

// The same stream cut everywhere gives the same data, replies and events.
TEST(TelnetCodec, CutsChangeNothing) {
    const Bytes stream = hex(
        "41 0D 00 FF FD 2C FF FB 01 0D 0A FF FA 2C 65 00 00 FF FF FF FF FF F0 FF FF 42 FF F1 "
        "FF FA 2C 6A 0A FF F0 0D FF FA 2C 66 07 FF F0 00 FF FB 00 FF FD 00 0D 00 FF FF "
        "FF FA 18 01 02 FF FF FF F0 FF FA 2C 68 FF FB 03 43 FF FE 2C 44");
    const auto run = [&](const std::vector<size_t> &cuts) {
        TelnetCodec codec;
        Bytes offers;
        codec.start(offers);
        Fed all;
        size_t from = 0;
        for (size_t to : cuts) {
            Bytes piece(stream.begin() + from, stream.begin() + to);
            piece.resize(codec.receive(piece.data(), piece.size(), all.out));
            all.data.insert(all.data.end(), piece.begin(), piece.end());
            from = to;
        }
        return all;
    };
    const Fed whole = run({stream.size()});
    EXPECT_EQ(hex(whole.data), "41 0D 0D 0A FF 42 0D 0D 00 FF 43 44");
    EXPECT_EQ(whole.out.events.size(), 5u);

    std::vector<size_t> single;
    for (size_t i = 1; i <= stream.size(); ++i) single.push_back(i);
    std::mt19937 random(21);
    std::vector<std::vector<size_t>> cutsList{single};
    for (int round = 0; round < 50; ++round) {
        std::vector<size_t> cuts;
        for (size_t at = 0; at < stream.size();)
            cuts.push_back(at = std::min(stream.size(), at + 1 + random() % 9));
        cutsList.push_back(cuts);
    }
    for (const auto &cuts : cutsList) {
        const Fed cut = run(cuts);
        ASSERT_EQ(cut.data, whole.data);
        ASSERT_EQ(cut.out.reply, whole.out.reply);
        ASSERT_EQ(cut.out.events, whole.out.events);
    }
}
