// The telnet and COM-PORT-OPTION codec fed an arbitrary server stream in
// three ways: in one piece, a byte at a time and in random cuts.  The input
// is a seed for the cuts, the place where the caller stops waiting for
// answers (0xFF: never) and then the server's bytes.  Checked: the data,
// the replies, the events and the settings answered are the same whatever
// the cuts; no read yields more data than bytes; every reply is a whole
// telnet command that agrees to nothing but BINARY, SGA and COM-PORT-OPTION;
// and the data taken out, sent back through the codec, comes back unchanged
// in binary and in non-binary mode.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <random>
#include <vector>

#include "fuzz_line.h"
#include "rslink/core/telnet_codec.h"

namespace {

using namespace rslink::core;
using namespace rslink::core::telnet;
using Bytes = std::vector<uint8_t>;

struct Run {
    Bytes data;
    TelnetOutput out;
    std::string refused;
    TelnetCodec::ComPort comPort;
    bool binaryOut, binaryIn;
    std::vector<std::optional<uint32_t>> answers;
    bool operator==(const Run &o) const {
        return data == o.data && out.reply == o.out.reply && out.events == o.out.events &&
               refused == o.refused && comPort == o.comPort && binaryOut == o.binaryOut &&
               binaryIn == o.binaryIn && answers == o.answers;
    }
};

// The offers and replies: IAC verb option, or IAC SB COM-PORT-OPTION ... IAC SE.
void checkReply(const Bytes &reply) {
    for (size_t i = 0; i < reply.size();) {
        FUZZ_CHECK(reply[i] == kIac && i + 2 < reply.size(), "reply is not a command");
        const uint8_t verb = reply[i + 1], option = reply[i + 2];
        if (verb == kSb) {
            FUZZ_CHECK(option == kOptComPort, "subnegotiation of another option");
            for (i += 3; i + 1 < reply.size() && !(reply[i] == kIac && reply[i + 1] == kSe);)
                i += reply[i] == kIac ? 2 : 1;
            FUZZ_CHECK(i + 1 < reply.size(), "unterminated subnegotiation");
            i += 2;
            continue;
        }
        FUZZ_CHECK(verb >= kWill && verb <= kDont, "unknown command in reply");
        if (verb == kWill || verb == kDo)
            FUZZ_CHECK(option == kOptBinary || option == kOptSga || option == kOptComPort,
                       "agreed to an option it should refuse");
        i += 3;
    }
}

// Feeds `stream` cut before each position in `cuts` (ascending, ending at
// the stream's size); the caller stops waiting at `endAt`.
Run feed(const Bytes &stream, const std::vector<size_t> &cuts, size_t endAt) {
    TelnetCodec codec;
    Run run;
    codec.start(run.out.reply);
    Bytes buffer = stream;  // decoded in place, read by read
    size_t from = 0;
    for (size_t to : cuts) {
        if (from == endAt) codec.endNegotiation();
        uint8_t *read = buffer.data() + from;
        const size_t count = codec.receive(read, to - from, run.out);
        FUZZ_CHECK(count <= to - from, "more data than bytes read");
        run.data.insert(run.data.end(), read, read + count);
        from = to;
    }
    checkReply(run.out.reply);
    run.refused = codec.refusedSettings();
    run.comPort = codec.comPort();
    run.binaryOut = codec.sendsBinary();
    run.binaryIn = codec.receivesBinary();
    for (size_t s = 0; s < kSettingCount; ++s) run.answers.push_back(codec.answer(Setting(s)));
    return run;
}

// Data sent by one codec and taken in by another in the same mode.
void checkRoundTrip(const Bytes &data, bool binary) {
    TelnetCodec sender, receiver;
    TelnetOutput out;
    Bytes agree{kIac, kDo, kOptBinary}, offer{kIac, kWill, kOptBinary};
    if (binary) {
        sender.receive(agree.data(), agree.size(), out);
        receiver.receive(offer.data(), offer.size(), out);
        out.clear();
    }
    Bytes wire;
    sender.encode(data.data(), data.size(), wire);
    FUZZ_CHECK(wire.size() <= 2 * data.size(), "encoding more than doubles");
    const size_t count = receiver.receive(wire.data(), wire.size(), out);
    FUZZ_CHECK(count == data.size() && std::equal(data.begin(), data.end(), wire.begin()),
               "data changed on the way through");
    FUZZ_CHECK(out.reply.empty() && out.events.empty(), "data taken as a command");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size) {
    if (size < 2) return 0;
    std::minstd_rand random(input[0] + 1u);
    const Bytes stream(input + 2, input + size);
    const size_t endAt = input[1] == 0xFF ? stream.size() + 1 : input[1] * stream.size() / 255;

    std::vector<size_t> whole, single, random_cuts;
    for (size_t at : {endAt, stream.size()})
        if (at > 0 && at <= stream.size() && (whole.empty() || at > whole.back())) whole.push_back(at);
    for (size_t at = 1; at <= stream.size(); ++at) single.push_back(at);
    for (size_t at = 0; at < stream.size();) {
        size_t next = std::min(stream.size(), at + 1 + random() % 16);
        if (at < endAt && endAt < next) next = endAt;
        random_cuts.push_back(at = next);
    }

    const Run first = feed(stream, whole, endAt);
    FUZZ_CHECK(feed(stream, single, endAt) == first, "a byte at a time differs");
    FUZZ_CHECK(feed(stream, random_cuts, endAt) == first, "random cuts differ");

    checkRoundTrip(first.data, false);
    checkRoundTrip(first.data, true);
    return 0;
}
