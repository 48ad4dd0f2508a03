// The monitor on a live line, end to end: the console runs a session
// against the simulated unit (with one fault at a time) through the relay,
// and the transcript must show every pair, frame and fault of the line once,
// in order, decoded, while the console's own output stays as without the
// relay.  Then the same session, as the console recorded it, is played into
// a tap from two ptys with its recorded gaps, and the tap must tell the same.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "rslink/analysis/line_tokens.h"
#include "rslink/platform/fd_io.h"
#include "support/capture_read.h"
#include "support/child_process.h"
#include "support/pty_peer.h"
#include "support/ser2net.h"
#include "support/files.h"

namespace {

using namespace testsupport;  // the child processes, the pty peer, the waits and files

namespace fs = std::filesystem;
namespace cap = rslink::capture;
using namespace std::chrono_literals;
using rslink::analysis::LineToken;

// Trace times apart, two runs of one session print the same.
std::string maskTimes(const std::string &text) {
    static const std::regex stamp(R"((SEND|RECV)\[\d\d:\d\d:\d\d:\d\d\d\])");
    return std::regex_replace(text, stamp, "$1[time]");
}

// One line a pair, frame or noise, as "host>unit DLE ENQ", "unit>host frame
// E0 01 ... good", "unit>host noise 41 42": what the transcript must show.
std::string tokenLine(bool hostToUnit, const LineToken &t) {
    std::string s = hostToUnit ? "host>unit " : "unit>host ";
    switch (t.kind) {
        case LineToken::Kind::Control:
            return s + (t.control == 0x05 ? "DLE ENQ" : t.control == 0x06 ? "DLE ACK" : "DLE NAK");
        case LineToken::Kind::Frame:
            return s + "frame " + hex(t.text) + (t.good() ? " good" : " bad");
        case LineToken::Kind::Noise:
            return s + "noise " + hex(t.raw);
    }
    return s;
}

// The line as the console's own capture of it holds it.
std::vector<std::string> tokensOfCapture(const fs::path &file) {
    const cap::Parsed parsed = readCapture(file);
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    rslink::analysis::LineSplitter host, unit;
    std::vector<std::string> out;
    for (const cap::Record &r : parsed.records) {
        if (r.type != cap::RecordType::Burst) continue;
        const bool h = r.direction == cap::Direction::HostToUnit;
        std::vector<LineToken> tokens;
        (h ? host : unit).feed(r.bytes, 0, tokens);
        for (const LineToken &t : tokens) out.push_back(tokenLine(h, t));
    }
    return out;
}

// The same from a transcript: its pair, frame and noise lines, events left out.
std::vector<std::string> tokensOfTranscript(const std::string &transcript) {
    static const std::regex line(R"(^ *\d+ (host>unit|unit>host) (.*)$)");
    static const std::regex frame(R"(^frame ([0-9A-F ]*) \(check code [0-9A-F]{4} (good|bad).*$)");
    std::vector<std::string> out;
    for (const std::string &l : lines(transcript)) {
        std::smatch m;
        if (!std::regex_match(l, m, line)) continue;  // the pty's path
        const std::string dir = m[1], what = m[2];
        std::smatch f;
        if (what.rfind("DLE ", 0) == 0)
            out.push_back(dir + " " + what.substr(0, 7));
        else if (std::regex_match(what, f, frame))
            out.push_back(dir + " frame " + std::string(f[1]) + " " + std::string(f[2]));
        else if (what.rfind("noise ", 0) == 0)
            out.push_back(dir + " noise " + what.substr(what.find(": ") + 2));
    }
    return out;
}

// The transcript without its times.
std::vector<std::string> untimed(const std::string &transcript) {
    static const std::regex time(R"(^ *\d+ )");
    std::vector<std::string> out;
    for (const std::string &l : lines(transcript))
        if (std::regex_search(l, time)) out.push_back(std::regex_replace(l, time, ""));
    return out;
}

constexpr char kSession[] =
    "select 1137 \"COM1\"\n"
    "press \"COM Open\"\n"
    "wait message \"COM OPEN Completed.\"\n"
    "press \"Status Read\"\n"
    "wait idle 1\n"
    "show response\n"
    "check 1240 on\n"
    "press \"Status Read\"\n"
    "wait idle 1\n"
    "show response\n";

struct Fault {
    const char *name;
    std::vector<std::string> options;  // of bdusim
    size_t contentions, resends, badFrames;
    bool noise;
};

class LiveLine : public ::testing::TestWithParam<Fault> {
protected:
    void SetUp() override {
        work_ = fs::path(testsupport::scratch()) / ("monitor-" + std::string(GetParam().name));
        fs::remove_all(work_);
        fs::create_directories(work_);
        std::ofstream(work_ / "session.vds") << kSession;
    }

    std::vector<std::string> unitArgs() const {
        std::vector<std::string> args = {BDUSIM_PATH};
        args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
        return args;
    }

    int console(const std::string &com, const std::string &options, const std::string &out) {
        return runScript(work_, com, options, "session.vds", out);
    }

    // Runs the session through the relay; the transcript, once it holds
    // every token of the console's own capture (or after 10 s).
    std::string relayed() {
        ChildProcess unit(work_, "unit", unitArgs());
        const std::string unitPath = unit.firstLine();
        EXPECT_FALSE(unitPath.empty()) << unit.errors();
        ChildProcess relay(work_, "relay",
                           {VALDOR_PATH, "--monitor", "--relay", "-", unitPath, "--capture", (work_ / "relay.rslcap").string()});
        const std::string hostPath = relay.firstLine();
        EXPECT_TRUE(relay.waitForError("Ctrl-C ends")) << relay.errors();
        EXPECT_EQ(console(hostPath, "--capture console.rslcap", "relayed.txt"), 0)
            << slurp(work_ / "relayed.txt.err");
        const size_t expected = tokensOfCapture(work_ / "console.rslcap").size();
        waitUntil([&] { return tokensOfTranscript(relay.output()).size() >= expected; });
        EXPECT_EQ(relay.stop(), 0) << relay.errors();
        return relay.output();
    }

    fs::path work_;
};

void expectFaultsOnce(const std::string &transcript, const Fault &f) {
    EXPECT_EQ(count(transcript, "event contention"), f.contentions) << transcript;
    EXPECT_EQ(count(transcript, "event frame sent again after a refusal"), f.resends) << transcript;
    EXPECT_EQ(count(transcript, " bad, "), f.badFrames) << transcript;
    EXPECT_EQ(count(transcript, " noise ") > 0, f.noise) << transcript;
    EXPECT_EQ(count(transcript, "answers nothing"), 0u) << "every pair answers something: " << transcript;
    EXPECT_EQ(count(transcript, "unanswered"), 0u) << transcript;
    // Each request decoded by name, each good response field by field.
    EXPECT_EQ(count(transcript, "; request Status read"), 2u + f.resends - f.badFrames) << transcript;
    EXPECT_EQ(count(transcript, "; response @1200 E001 | ") , 2u + f.contentions) << transcript;
    EXPECT_EQ(count(transcript, "@1207 Normal end"), 2u + f.contentions) << transcript;
}

TEST_P(LiveLine, TheRelayShowsEveryPairFrameAndFaultOnceInOrderAndChangesNothing) {
    const std::string transcript = relayed();
    EXPECT_EQ(tokensOfTranscript(transcript), tokensOfCapture(work_ / "console.rslcap")) << transcript;
    expectFaultsOnce(transcript, GetParam());

    // The same session straight to a unit with the same fault.
    ChildProcess unit(work_, "direct-unit", unitArgs());
    const std::string unitPath = unit.firstLine();
    ASSERT_EQ(console(unitPath, "", "direct.txt"), 0) << slurp(work_ / "direct.txt.err");
    EXPECT_EQ(maskTimes(slurp(work_ / "relayed.txt")), maskTimes(slurp(work_ / "direct.txt")));

    // The relay's capture is one the other tools read.
    EXPECT_EQ(run("'" + std::string(VALDOR_PATH) + "' --decode '" + (work_ / "relay.rslcap").string() +
                  "' > '" + (work_ / "relay.decoded").string() + "'"),
              0);
    // ... and the replay plays its unit's side to the console alike.
    if (GetParam().contentions == 0) {
        ChildProcess replay(work_, "replay", {BDUSIM_PATH, "--replay", (work_ / "relay.rslcap").string(), "--replay-no-delays"});
        const std::string replayPath = replay.firstLine();
        ASSERT_EQ(console(replayPath, "", "replayed.txt"), 0) << slurp(work_ / "replayed.txt.err");
        EXPECT_EQ(maskTimes(slurp(work_ / "replayed.txt")), maskTimes(slurp(work_ / "relayed.txt")));
        EXPECT_EQ(count(replay.errors(), "differs"), 0u) << replay.errors();
    }
    const std::string decoded = slurp(work_ / "relay.decoded");
    EXPECT_EQ(count(decoded, "SEND frame "), count(transcript, "host>unit frame ")) << decoded;
    EXPECT_EQ(count(decoded, "RECV frame "), count(transcript, "unit>host frame ")) << decoded;
}

// Plays the two directions of a capture into two ptys, each burst at its
// recorded time after the first.
void playIntoTap(const fs::path &capture, PtyPeer &hostToUnit, PtyPeer &unitToHost) {
    const cap::Parsed parsed = readCapture(capture);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    const auto start = std::chrono::steady_clock::now();
    std::optional<uint64_t> first;
    for (const cap::Record &r : parsed.records) {
        if (r.type != cap::RecordType::Burst) continue;
        if (!first) first = r.micros;
        std::this_thread::sleep_until(start + std::chrono::microseconds(r.micros - *first));
        (r.direction == cap::Direction::HostToUnit ? hostToUnit : unitToHost).send(r.bytes);
    }
}

TEST_P(LiveLine, ATapFedTheRecordedSessionFromTwoPtysTellsTheSame) {
    const std::string transcript = relayed();
    PtyPeer host, unit;
    ChildProcess tap(work_, "tap", {VALDOR_PATH, "--monitor", "--tap", host.path(), unit.path()});
    ASSERT_TRUE(tap.waitForError("Ctrl-C ends")) << tap.errors();
    playIntoTap(work_ / "console.rslcap", host, unit);
    const auto expected = tokensOfCapture(work_ / "console.rslcap");
    waitUntil([&] { return tokensOfTranscript(tap.output()).size() >= expected.size(); });
    // Receive-only: not one byte went back towards either side.
    for (PtyPeer *side : {&host, &unit}) EXPECT_EQ(hex(side->drain(100ms)), "") << "the tap wrote to a device";
    EXPECT_EQ(tap.stop(), 0) << tap.errors();
    EXPECT_EQ(tokensOfTranscript(tap.output()), expected) << tap.output();
    EXPECT_EQ(untimed(tap.output()), untimed(transcript));
    expectFaultsOnce(tap.output(), GetParam());
}

// A transcript nobody reads (a paused pager, a full pipe) must not hold
// up the line: every byte still goes through at once.
TEST(RelayOutput, AStalledTranscriptDoesNotStallTheLine) {
    PtyPeer unit;
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    const pid_t relay = fork();
    if (relay == 0) {
        dup2(out[1], 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        execl(VALDOR_PATH, VALDOR_PATH, "--monitor", "--relay", "-", unit.path().c_str(), nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string hostPath;
    for (char c; read(out[0], &c, 1) == 1 && c != '\n';) hostPath += c;
    ASSERT_FALSE(hostPath.empty());
    const int host = open(hostPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(host, 0);
    ASSERT_TRUE(rslink::platform::makeRaw(host));

    // Some 150 KB of transcript, more than a pipe holds, and no one reads it.
    constexpr int kPairs = 4000;
    for (int i = 0; i < kPairs; ++i) {
        ASSERT_EQ(write(host, kEnq.data(), 2), 2);
        ASSERT_EQ(hex(unit.read(2, 10s)), "10 05") << "the line stalled after " << i << " pairs";
    }
    close(host);
    // Ended while its output still takes nothing, it does end.
    kill(relay, SIGTERM);
    int status = 0;
    ASSERT_TRUE(waitUntil([&] { return waitpid(relay, &status, WNOHANG) == relay; }, 20s))
        << "the relay hangs on its output";
    EXPECT_TRUE(WIFEXITED(status)) << "the relay ended by a signal";
    close(out[0]);
}

// A unit that never answers: the console bids three times, and each bid
// is reported unanswered once, 4.5 s after it went.
TEST(RelaySilentUnit, EachBidLeftUnansweredIsReportedOnce) {
    const fs::path work = fs::path(testsupport::scratch()) / "monitor-silent";
    fs::remove_all(work);
    fs::create_directories(work);
    ChildProcess unit(work, "unit", {BDUSIM_PATH, "--silent"});
    const std::string unitPath = unit.firstLine();
    ASSERT_FALSE(unitPath.empty());
    ChildProcess relay(work, "relay", {VALDOR_PATH, "--monitor", "--relay", "-", unitPath});
    const std::string hostPath = relay.firstLine();
    ASSERT_TRUE(relay.waitForError("Ctrl-C ends")) << relay.errors();
    std::ofstream(work / "silent.vds") << "select 1137 \"COM1\"\npress \"COM Open\"\n"
                                          "wait message \"COM OPEN Completed.\"\npress \"Status Read\"\n"
                                          "wait message \"Send Abnormal End\" 30\n";
    ASSERT_EQ(runScript(work, hostPath, "", "silent.vds", "console.txt"), 0) << slurp(work / "console.txt.err");
    ASSERT_TRUE(waitUntil([&] { return count(relay.output(), "unanswered") >= 3; }))
        << relay.output();
    EXPECT_EQ(relay.stop(), 0);

    static const std::regex event(R"(^ *(\d+) host>unit (DLE ENQ bid|event bid unanswered for 4\.5 s)$)");
    std::vector<std::pair<uint64_t, std::string>> seen;
    for (const std::string &l : lines(relay.output())) {
        std::smatch m;
        if (std::regex_match(l, m, event)) seen.emplace_back(std::stoull(m[1]), m[2]);
    }
    ASSERT_EQ(seen.size(), 6u) << relay.output();
    for (size_t i = 0; i < 6; i += 2) {
        EXPECT_EQ(seen[i].second, "DLE ENQ bid");
        EXPECT_EQ(seen[i + 1].second, "event bid unanswered for 4.5 s");
        // At the bid's deadline, or when the next bid shows it ran out.
        EXPECT_LE(seen[i + 1].first - seen[i].first, 4500000u);
        EXPECT_GE(seen[i + 1].first - seen[i].first, 4400000u);
    }
}

// A unit that goes away ends the relay with a word on what happened; a
// device that cannot be opened stops it before it starts, naming it.
TEST(RelayEnds, WhenTheUnitSideHangsUpOrCannotBeOpened) {
    const fs::path work = fs::path(testsupport::scratch()) / "monitor-ends";
    fs::remove_all(work);
    fs::create_directories(work);
    ChildProcess unit(work, "unit", {BDUSIM_PATH});
    const std::string unitPath = unit.firstLine();
    ASSERT_FALSE(unitPath.empty());
    ChildProcess relay(work, "relay", {VALDOR_PATH, "--monitor", "--relay", "-", unitPath});
    ASSERT_TRUE(relay.waitForError("Ctrl-C ends")) << relay.errors();
    unit.stop();
    ASSERT_TRUE(relay.waitForError("the watch ends")) << relay.errors();
    EXPECT_EQ(relay.stop(), 1);
    EXPECT_NE(relay.errors().find(unitPath), std::string::npos) << relay.errors();

    ChildProcess missing(work, "missing", {VALDOR_PATH, "--monitor", "--tap", "/dev/no-such-line", unitPath});
    ASSERT_TRUE(missing.waitForError("/dev/no-such-line")) << missing.errors();
    EXPECT_EQ(missing.stop(), 2);
    EXPECT_NE(missing.errors().find("No such file or directory"), std::string::npos) << missing.errors();
}

// The unit's side may be a network port: the relay reaches the unit
// through ser2net as the console would, and shows and forwards the same
// line.  A tap only reads, so a network port, which must be answered, is
// refused there with a word on what to use instead.
TEST(RelayOverNetwork, EitherSideMayBeANetworkPort) {
    if (Ser2net::program().empty())
        GTEST_SKIP() << "ser2net is not installed: scripts/install-deps.sh test installs it";
    const fs::path work = fs::path(testsupport::scratch()) / "monitor-network";
    fs::remove_all(work);
    fs::create_directories(work);
    std::ofstream(work / "session.vds") << kSession;
    ChildProcess unit(work, "unit", {BDUSIM_PATH});
    const std::string unitPath = unit.firstLine();
    ASSERT_FALSE(unitPath.empty()) << unit.errors();
    Ser2net server(unitPath, work);
    const std::string url = server.url("rfc2217");
    ChildProcess relay(work, "relay", {VALDOR_PATH, "--monitor", "--relay", "-", url});
    const std::string hostPath = relay.firstLine();
    ASSERT_TRUE(relay.waitForError("Ctrl-C ends")) << relay.errors();
    EXPECT_NE(relay.errors().find("and " + url + " (unit side)"), std::string::npos) << relay.errors();
    ASSERT_EQ(runScript(work, hostPath, "--capture console.rslcap", "session.vds", "relayed.txt"), 0)
        << slurp(work / "relayed.txt.err");
    const auto expected = tokensOfCapture(work / "console.rslcap");
    waitUntil([&] { return tokensOfTranscript(relay.output()).size() >= expected.size(); });
    EXPECT_EQ(relay.stop(), 0) << relay.errors();
    EXPECT_EQ(tokensOfTranscript(relay.output()), expected) << relay.output();
    EXPECT_EQ(count(relay.output(), "@1207 Normal end"), 2u) << relay.output();

    ASSERT_EQ(runScript(work, unitPath, "", "session.vds", "direct.txt"), 0) << slurp(work / "direct.txt.err");
    EXPECT_EQ(maskTimes(slurp(work / "relayed.txt")), maskTimes(slurp(work / "direct.txt")));

    ChildProcess tap(work, "tap", {VALDOR_PATH, "--monitor", "--tap", url, unitPath});
    ASSERT_TRUE(tap.waitForError("--relay")) << tap.errors();
    EXPECT_EQ(tap.stop(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LiveLine,
    ::testing::Values(Fault{"clean", {}, 0, 0, 0, false},
                      Fault{"refused_frame", {"--nak-frames", "1"}, 0, 1, 0, false},
                      Fault{"bad_check_code", {"--bad-crc", "1"}, 0, 1, 1, false},
                      Fault{"contention", {"--contend", "1"}, 1, 0, 0, false},
                      Fault{"noise", {"--noise", "3"}, 0, 0, 0, true}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
