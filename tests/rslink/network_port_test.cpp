// The driver over network ports, against a scripted server on the loopback
// address: raw TCP's bytes unchanged, RFC 2217's negotiation and escaping
// wherever the reads cut it, and the server's faults: refusals, silence,
// other values, line errors, a close in the middle of a frame.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <future>
#include <thread>

#include "driver_client.h"
#include "support/capture_read.h"
#include "support/files.h"
#include "support/net_peer.h"
#include "support/scoped_env.h"

using namespace rslinktest;
using namespace std::chrono_literals;

namespace {

constexpr int kCom = 6;
const Bytes kEnhanced = hex("60 01 FF 00 00 01 00 1C");  // carries 0xFF
const Bytes kResponse = hex("E0 01 FF 00 00 55 FF 12 34");
const char kOffers[] = "FF FB 2C FF FB 00 FF FD 00";  // WILL COM-PORT, WILL BINARY, DO BINARY
// 9600 baud, 8 bits, even parity, 1 stop bit, no flow control, DTR on,
// RTS on, purge both: asked all together once the server agrees.
const char *const kSettingRequests[] = {"FF FA 2C 01 00 00 25 80 FF F0", "FF FA 2C 02 08 FF F0", "FF FA 2C 03 03 FF F0",
                                 "FF FA 2C 04 01 FF F0",          "FF FA 2C 05 01 FF F0", "FF FA 2C 05 08 FF F0",
                                 "FF FA 2C 05 0B FF F0",          "FF FA 2C 0C 03 FF F0"};
const char kAllAnswered[] =
    "FF FA 2C 65 00 00 25 80 FF F0 FF FA 2C 66 08 FF F0 FF FA 2C 67 03 FF F0 FF FA 2C 68 01 FF F0";

class NetworkPortTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(RSClose(), 0); }

    // RSOpen runs on a thread of its own while the test plays the server.
    void openAsync(const std::string &scheme) {
        peer.telnet = scheme == "rfc2217";
        peer.mapCom(kCom, scheme);
        opened = std::async(std::launch::async, [this] { return RSOpen(client.id, kCom, 9600, 8, 2, 0); });
        ASSERT_TRUE(peer.accept()) << "the driver did not connect";
    }
    int openResult() { return opened.wait_for(15s) == std::future_status::ready ? opened.get() : 99; }
    RS_OPEN_INFO info() {
        RS_OPEN_INFO i{};
        EXPECT_EQ(RSOpenInfo(&i), 0);
        EXPECT_EQ(i.latency, RS_LATENCY_NETWORK);
        return i;
    }
    // The server's side of an RFC 2217 open up to the answers: it offers
    // ECHO (refused) and takes COM-PORT-OPTION, cut byte by byte.
    void agree() {
        ASSERT_TRUE(peer.waitForCommand("FF FD 00"));
        EXPECT_EQ(peer.commands(), (std::vector<std::string>{"FF FB 2C", "FF FB 00", "FF FD 00"})) << kOffers;
        peer.sendRaw(hex("FF FB 01 FF FD 2C FF FD 00 FF FB 00"), true);
        ASSERT_TRUE(peer.waitForCommand("FF FE 01")) << "WILL ECHO not refused";
        ASSERT_TRUE(peer.waitForCommand("FF FA 2C 0C 03 FF F0"));
        std::vector<std::string> settings(peer.commands().end() - std::size(kSettingRequests), peer.commands().end());
        EXPECT_EQ(settings, std::vector<std::string>(std::begin(kSettingRequests), std::end(kSettingRequests)));
    }
    void expectCode(uint8_t code, uint32_t error = 0) {
        const auto n = client.next(5s);
        ASSERT_TRUE(n && n->block) << "no notice";
        EXPECT_EQ(n->copy.code, code);
        EXPECT_EQ(n->copy.error, error);
    }
    void expectReceived(const Bytes &text) {
        const auto n = client.next(5s);
        ASSERT_TRUE(n && n->block && n->copy.code == BLK_RECEIVED) << "no BLK_RECEIVED";
        EXPECT_EQ(hex(n->text), hex(text));
        client.release(*n);
    }

    NetPeer peer;
    Client client;
    std::future<int> opened;
};

}  // namespace

TEST_F(NetworkPortTest, RawTcpCarriesTheLineUnchangedAndHasNoControls) {
    openAsync("tcp");
    ASSERT_EQ(openResult(), 0);
    EXPECT_EQ(info().error, 0);
    client.queue(kEnhanced);
    unitTakesRequest(peer, kEnhanced);  // 0xFF went out once
    expectCode(BLK_SEND_OK);
    unitSends(peer, kResponse);
    expectReceived(kResponse);
    EXPECT_EQ(DTRControl(0), 0);
    EXPECT_EQ(RTSControl(0), 0);
    EXPECT_TRUE(peer.drain(200ms).empty());
}

TEST_F(NetworkPortTest, Rfc2217SetsTheLineAndEscapesWhereverReadsCutIt) {
    const auto capture = std::filesystem::path(scratch()) / "network.rscap";
    ASSERT_EQ(RSCapture(capture.c_str()), 0);
    openAsync("rfc2217");
    agree();
    peer.sendRaw(hex(kAllAnswered), true);
    ASSERT_EQ(openResult(), 0);
    EXPECT_STREQ(info().note, "");

    client.queue(kEnhanced);
    unitTakesRequest(peer, kEnhanced);  // undoubled by the peer: doubled on the wire
    expectCode(BLK_SEND_OK);
    // The response one byte a segment, a NOP and a modem-state notice in
    // the middle of its frame.
    peer.send(kEnq, true);
    EXPECT_EQ(hex(peer.read(2)), hex(kAck));
    const Bytes frame = frameOf(kResponse);
    peer.send(Bytes(frame.begin(), frame.begin() + 5), true);
    peer.sendRaw(hex("FF F1 FF FA 2C 6B 30 FF F0"), true);
    peer.send(Bytes(frame.begin() + 5, frame.end()), true);
    EXPECT_EQ(hex(peer.read(2)), hex(kAck));
    expectReceived(kResponse);

    EXPECT_EQ(DTRControl(0), 0);
    EXPECT_TRUE(peer.waitForCommand("FF FA 2C 05 09 FF F0"));
    EXPECT_EQ(RTSControl(1), 0);
    EXPECT_TRUE(peer.waitForCommand("FF FA 2C 05 0B FF F0"));

    EXPECT_EQ(RSClose(), 0);
    EXPECT_TRUE(peer.sawClose(500ms)) << "COM Close waits for the server";
    RSCapture(nullptr);
    const auto parsed = readCapture(capture);
    Bytes sent, received;
    for (const auto &r : parsed.records) {
        if (r.type != rslink::capture::RecordType::Burst) continue;
        auto &into = r.direction == rslink::capture::Direction::HostToUnit ? sent : received;
        into.insert(into.end(), r.bytes.begin(), r.bytes.end());
    }
    EXPECT_EQ(hex(sent), hex(joined({kEnq, frameOf(kEnhanced), kAck, kAck}))) << "the line's bytes only";
    EXPECT_EQ(hex(received), hex(joined({kAck, kAck, kEnq, frame})));
}

TEST_F(NetworkPortTest, OtherValuesOpenWithANoteAndLateAnswersAreDropped) {
    openAsync("rfc2217");
    agree();
    // Parity answered NONE; stop bits only after the 2 s.
    peer.sendRaw(hex("FF FA 2C 65 00 00 25 80 FF F0 FF FA 2C 66 08 FF F0 FF FA 2C 67 01 FF F0"));
    ASSERT_EQ(openResult(), 0);
    EXPECT_STREQ(info().note, "parity NONE, not EVEN");
    peer.sendRaw(hex("FF FA 2C 68 02 FF F0"));
    unitSends(peer, kResponse);
    expectReceived(kResponse);
    EXPECT_STREQ(info().note, "parity NONE, not EVEN");
}

TEST_F(NetworkPortTest, AServerWithoutTheOptionFailsTheOpen) {
    openAsync("rfc2217");
    ASSERT_TRUE(peer.waitForCommand("FF FD 00"));
    peer.sendRaw(hex("FF FE 2C"));
    EXPECT_EQ(openResult(), RS_ERR_PORT);
    EXPECT_EQ(info().error, EPROTONOSUPPORT);
    EXPECT_STREQ(info().note, "the server does not speak RFC 2217");
    EXPECT_EQ(RSClose(), 0);

    openAsync("rfc2217");  // silence: after 5 s
    EXPECT_EQ(openResult(), RS_ERR_PORT);
    EXPECT_EQ(info().error, EPROTONOSUPPORT);
}

TEST_F(NetworkPortTest, LineErrorsFailTheReadOthersChangeNothing) {
    openAsync("rfc2217");
    agree();
    peer.sendRaw(hex(kAllAnswered));
    ASSERT_EQ(openResult(), 0);
    peer.send(kEnq);
    EXPECT_EQ(hex(peer.read(2)), hex(kAck));
    const Bytes frame = frameOf(kResponse);
    peer.send(Bytes(frame.begin(), frame.begin() + 6), true);
    std::this_thread::sleep_for(50ms);  // inside the frame's text by now
    peer.sendRaw(hex("FF FA 2C 6A 08 FF F0"));  // framing error
    EXPECT_EQ(hex(peer.read(2)), hex(kNak));
    peer.send(Bytes(frame.begin(), frame.begin() + 6));
    peer.sendRaw(hex("FF FA 2C 6A 60 FF F0"));  // transmitter empty: no error
    peer.send(Bytes(frame.begin() + 6, frame.end()));
    EXPECT_EQ(hex(peer.read(2)), hex(kAck));
    expectReceived(kResponse);
}

TEST_F(NetworkPortTest, AServerClosingMidFrameIsOneApiErrorUntilOpenedAgain) {
    openAsync("tcp");
    ASSERT_EQ(openResult(), 0);
    peer.send(kEnq);
    EXPECT_EQ(hex(peer.read(2)), hex(kAck));
    const Bytes frame = frameOf(kResponse);
    peer.send(Bytes(frame.begin(), frame.begin() + 7));
    peer.close();
    expectCode(BLK_API_ERROR, ECONNRESET);
    client.queue(kEnhanced);
    expectCode(BLK_SEND_FAILED);
    EXPECT_FALSE(client.next(300ms)) << "reported once";
    EXPECT_EQ(RSClose(), 0);

    openAsync("tcp");
    ASSERT_EQ(openResult(), 0);
    client.queue(kEnhanced);
    unitTakesRequest(peer, kEnhanced);
    expectCode(BLK_SEND_OK);
}

TEST_F(NetworkPortTest, FailuresToConnectSayWhy) {
    const std::string refusing = [] {
        NetPeer gone;
        return gone.url("tcp");
    }();
    struct Case {
        std::string name;
        int error;
        std::string note;
    };
    const Case cases[] = {
        {refusing, ECONNREFUSED, "Connection refused"},
        {"tcp://127.0.0.1", EINVAL, "the port is missing"},
        {"rfc2217://[::1]:0", EINVAL, "port 0 is out of range (1 to 65535)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv com("RSLINK_COM" + std::to_string(kCom), c.name.c_str());
        EXPECT_EQ(RSOpen(client.id, kCom, 9600, 8, 2, 0), RS_ERR_PORT);
        EXPECT_STREQ(info().path, c.name.c_str());
        EXPECT_EQ(info().error, c.error);
        EXPECT_EQ(info().note, c.note);
        EXPECT_EQ(RSClose(), 0);
    }
    openAsync("tcp");  // a server that takes the connection only to say no
    peer.send(hex("50 6F 72 74 20 69 6E 20 75 73 65 0D 0A"));  // "Port in use\r\n"
    peer.close();
    EXPECT_EQ(openResult(), RS_ERR_PORT);
    EXPECT_EQ(info().error, ECONNRESET);
    EXPECT_STREQ(info().note, "the server closed the connection (Port in use)");
}

TEST_F(NetworkPortTest, RSCloseFromAnotherThreadCutsTheOpenShort) {
    openAsync("rfc2217");  // the server never answers
    ASSERT_TRUE(peer.waitForCommand("FF FD 00"));
    EXPECT_EQ(RSClose(), 0);
    EXPECT_EQ(openResult(), RS_ERR_PORT);
    EXPECT_EQ(info().error, ECANCELED);
    EXPECT_TRUE(peer.sawClose(1s));
    MSG_BLK block = sendBlock(kEnhanced);
    EXPECT_EQ(RSSend(&block), RS_ERR_NOT_OPEN) << "nothing left open";
}
