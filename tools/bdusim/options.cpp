#include "tools/bdusim/options.h"

#include <charconv>
#include <string_view>

#include "tools/bdusim/unit_data.h"

namespace bdusim {
namespace {

// ---- Values -------------------------------------------------------------------

bool number(std::string_view text, unsigned long &value, int base = 10) {
    if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) text.remove_prefix(2);
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size();
}

bool count(std::string_view text, unsigned &value) {
    unsigned long v = 0;
    if (!number(text, v) || v > 1000000000ul) return false;
    value = static_cast<unsigned>(v);
    return true;
}

bool hexByte(std::string_view text, uint8_t &value) {
    unsigned long v = 0;
    if (!number(text, v, 16) || v > 0xFF) return false;
    value = static_cast<uint8_t>(v);
    return true;
}

bool errorCode(std::string_view text, ErrorCode &value) {
    unsigned long v = 0;
    if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
    if (text.size() != 4 || !number(text, v, 16)) return false;
    value = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    return true;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

// ---- Each option ----------------------------------------------------------------

using Apply = bool (*)(Options &, std::string_view);

bool applyNegative(Options &o, std::string_view value) {
    const auto parts = split(value, ':');
    NegativeRule rule;
    if (parts.size() > 3 || !hexByte(parts[0], rule.code)) return false;
    if (parts.size() > 1 && (!hexByte(parts[1], rule.dh0) || rule.dh0 == kPositive)) return false;  // a negative answer
    if (parts.size() > 2) {
        ErrorCode code;
        if (!errorCode(parts[2], code)) return false;
        rule.error = code;
    }
    o.negative.rules.push_back(rule);
    return true;
}

bool applyNegativeAt(Options &o, std::string_view value) {
    const auto parts = split(value, ':');
    NegativeRule rule;
    if (parts.size() != 2 || !hexByte(parts[0], rule.code) || !count(parts[1], rule.nth) || rule.nth == 0)
        return false;
    o.negative.rules.push_back(rule);
    return true;
}

bool applyNegativeOplog(Options &o, std::string_view value) {
    const auto parts = split(value, ',');
    unsigned section = 0, block = 0;
    if (parts.size() != 2 || !count(parts[0], section) || !count(parts[1], block) || section > 255 ||
        block > 255)
        return false;
    o.negative.oplogBlocks.emplace_back(static_cast<int>(section), static_cast<int>(block));
    return true;
}

bool applyNegativeDownload(Options &o, std::string_view value) {
    unsigned nth = 0;
    if (!count(value, nth) || nth == 0) return false;
    o.negative.downloadFrames.push_back(nth);
    return true;
}

bool applyHangUp(Options &o, std::string_view value) {
    const auto parts = split(value, ':');
    unsigned nth = 0;
    if (parts.size() != 2 || !count(parts[1], nth) || nth == 0) return false;
    if (parts[0] == "bid")
        o.faults.hangUpAt = HangUpPoint::BID;
    else if (parts[0] == "request")
        o.faults.hangUpAt = HangUpPoint::REQUEST;
    else if (parts[0] == "response")
        o.faults.hangUpAt = HangUpPoint::RESPONSE;
    else
        return false;
    o.faults.hangUpNth = nth;
    return true;
}

bool applyMillis(Millis &target, std::string_view value) {
    unsigned ms = 0;
    if (!count(value, ms)) return false;
    target = Millis(ms);
    return true;
}

bool applyBaud(Options &o, std::string_view value) {
    unsigned baud = 0;
    if (!count(value, baud) || baud == 0 || baud > 4000000) return false;
    o.baud = baud;
    return true;
}

struct OptionSpec {
    const char *name;
    const char *argument;    // nullptr: a switch
    const char *help;
    const char *example;
    Apply apply;
};

constexpr OptionSpec kOptions[] = {
    {"--nak-bids", nullptr, "Refuse every bid of the host with DLE NAK.", "bdusim --nak-bids",
     [](Options &o, std::string_view) { return o.faults.nakBids = true; }},
    {"--silent", nullptr, "Never answer anything: no grant, no acknowledgement, no response.",
     "bdusim --silent", [](Options &o, std::string_view) { return o.faults.silent = true; }},
    {"--nak-frames", "K", "Answer the first K frames of the host with DLE NAK, then as normal.",
     "bdusim --nak-frames 2", [](Options &o, std::string_view v) { return count(v, o.faults.nakFrames); }},
    {"--bad-crc", "K",
     "Send each of the first K response frames once with a wrong check code; after the host's\n"
     "DLE NAK the frame goes again, correct.",
     "bdusim --bad-crc 1", [](Options &o, std::string_view v) { return count(v, o.faults.badCrc); }},
    {"--enq-ack", nullptr,
     "Acknowledge a good frame with DLE ENQ instead of DLE ACK; the host takes it as the\n"
     "acknowledgement, and the unit then bids again for its response.",
     "bdusim --enq-ack", [](Options &o, std::string_view) { return o.faults.enqAck = true; }},
    {"--contend", "K",
     "Answer the host's next K bids with a DLE ENQ of its own, bid again, send a frame (the\n"
     "pending response, or a status response), then grant the host's new bid.",
     "bdusim --contend 1", [](Options &o, std::string_view v) { return count(v, o.faults.contend); }},
    {"--noise", "N", "Send N noise bytes (never 0x10) before each DLE that opens a pair or a frame.",
     "bdusim --noise 3", [](Options &o, std::string_view v) { return count(v, o.faults.noise); }},
    {"--negative", "CODE[:DH0[:ERROR]]",
     "Answer every request with command code CODE (hex) negatively: DH0 (hex, default F0,\n"
     "never E0) and ERROR, a main code and sub-code as four hex digits (default: an error of\n"
     "the catalogue that suits the command). May be given several times.",
     "bdusim --negative 0x12 --negative 05:F1:A100", applyNegative},
    {"--negative-at", "CODE:N", "Answer only the Nth request (from 1) with command code CODE negatively.",
     "bdusim --negative-at 0xD1:3", applyNegativeAt},
    {"--negative-oplog", "S,B", "Answer the operational-log request for section S, block B negatively.",
     "bdusim --negative-oplog 2,1", applyNegativeOplog},
    {"--negative-download", "N",
     "Answer the Nth download frame (data, end or time, counted from 1 since the start)\n"
     "negatively.",
     "bdusim --negative-download 4", applyNegativeDownload},
    {"--unsolicited", "MS", "Send a status response of its own after every MS milliseconds idle.",
     "bdusim --unsolicited 2000", [](Options &o, std::string_view v) { return applyMillis(o.faults.unsolicited, v); }},
    {"--hang-up", "POINT:N",
     "Hang up at the Nth POINT: print \"HANG-UP\", let the bytes already written leave, and\n"
     "end, closing the terminal as a pulled adapter vanishes.  POINT is bid (the host's Nth\n"
     "bid, left unanswered), request (just after acknowledging the Nth request, before its\n"
     "response) or response (half way through the first sending of the Nth response frame).",
     "bdusim --hang-up request:2", applyHangUp},
    {"--baud", "N",
     "Pace reads and writes at N baud, 11 bits a byte, as a real line would (9600: about\n"
     "1.15 ms a byte).",
     "bdusim --baud 9600", applyBaud},
    {"--delay", "MS", "Wait MS milliseconds before sending each response, as a slow unit does.",
     "bdusim --delay 1500", [](Options &o, std::string_view v) { return applyMillis(o.faults.delay, v); }},
    {"--log", "FILE", "Write every burst in both directions to FILE, with times.",
     "bdusim --log /tmp/line.log", [](Options &o, std::string_view v) { o.logPath = v; return !v.empty(); }},
    {"--trace-requests", nullptr,
     "Print \"REQ\" and the bytes of each request taken, one line each, on standard output.",
     "bdusim --trace-requests", [](Options &o, std::string_view) { return o.traceRequests = true; }},
    {"--trace-responses", nullptr,
     "Print \"RSP\" and the bytes of each response the host acknowledged, on standard output.",
     "bdusim --trace-responses", [](Options &o, std::string_view) { return o.traceResponses = true; }},
    {"--link", "PATH", "Make PATH a symbolic link to the pseudo-terminal (removed at exit).",
     "bdusim --link /tmp/bdu", [](Options &o, std::string_view v) { o.linkPath = v; return !v.empty(); }},
    {"--replay", "CAPTURE",
     "Play the unit's side of a session captured by valdor (its capture option, or RSLINK_CAPTURE):\n"
     "each recorded burst of the unit, once the host has sent what preceded it, after the\n"
     "recorded pause.  Each frame of the host that differs from the recording is reported on\n"
     "standard error with both texts (date and time bytes are not compared), and bdusim then\n"
     "exits with status 1.",
     "bdusim --replay field.rslcap",
     [](Options &o, std::string_view v) { o.replayPath = v; return !v.empty(); }},
    {"--replay-no-delays", nullptr, "With --replay: answer at once instead of after the recorded pauses.",
     "bdusim --replay field.rslcap --replay-no-delays",
     [](Options &o, std::string_view) { return o.replayNoDelays = true; }},
    {"--replay-stop-on-mismatch", nullptr,
     "With --replay: stop replaying at the first frame of the host that differs.",
     "bdusim --replay field.rslcap --replay-stop-on-mismatch",
     [](Options &o, std::string_view) { return o.replayStopOnMismatch = true; }},
    {"--help", nullptr, "Show this text.", "bdusim --help",
     [](Options &o, std::string_view) { return o.help = true; }},
};

const OptionSpec *findOption(std::string_view name) {
    for (const OptionSpec &spec : kOptions)
        if (name == spec.name) return &spec;
    return nullptr;
}

}  // namespace

rslink::Result<Options> parseOptions(const std::vector<std::string> &args) {
    auto refuse = [](std::string why) { return rslink::Failure{0, std::move(why)}; };
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::string_view value;
        bool inlineValue = false;
        if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inlineValue = true;
        }
        if (arg == "-h") arg = "--help";
        const OptionSpec *spec = findOption(arg);
        if (!spec) return refuse("unknown option " + std::string(arg) + " (see --help)");
        if (spec->argument && !inlineValue) {
            if (i + 1 >= args.size()) return refuse(std::string(spec->name) + " needs " + spec->argument);
            value = args[++i];
        } else if (!spec->argument && inlineValue) {
            return refuse(std::string(spec->name) + " takes no value");
        }
        if (!spec->apply(options, value))
            return refuse(std::string(spec->name) + ": \"" + std::string(value) + "\" is not a valid " +
                          (spec->argument ? spec->argument : "value"));
    }
    if ((options.replayNoDelays || options.replayStopOnMismatch) && options.replayPath.empty())
        return refuse(std::string(options.replayNoDelays ? "--replay-no-delays" : "--replay-stop-on-mismatch") +
                      " needs --replay CAPTURE");
    return options;
}

std::string helpText() {
    std::string text =
        "Usage: bdusim [OPTION]...\n"
        "A simulated bill dispenser unit on a pseudo-terminal.  It prints the path of the\n"
        "terminal on its first line, then plays the unit's side of the line protocol: it\n"
        "grants the host's bids, checks each frame (DLE NAK for a bad one), and answers every\n"
        "request with one response of fixed, documented contents (tools/bdusim/unit_data.h).\n"
        "Program download frames are checked block by block; a finished download prints\n"
        "\"DOWNLOAD OK blocks=N bytes=M crc=XXXX\", a rejected frame \"DOWNLOAD BAD ...\".\n"
        "The host may close and re-open the terminal at any time.  SIGTERM or Ctrl-C ends it.\n"
        "\nOptions:\n";
    for (const OptionSpec &spec : kOptions) {
        std::string head = std::string("  ") + spec.name;
        if (spec.argument) head += std::string(" ") + spec.argument;
        text += head + "\n";
        std::string_view help = spec.help;
        for (;;) {
            const size_t nl = help.find('\n');
            text += "      " + std::string(help.substr(0, nl)) + "\n";
            if (nl == std::string_view::npos) break;
            help.remove_prefix(nl + 1);
        }
        text += std::string("      e.g. ") + spec.example + "\n";
    }
    text +=
        "\nExample: run it beside the console and watch the line:\n"
        "  bdusim --link /tmp/bdu --log /tmp/bdu.log --trace-requests\n";
    return text;
}

}  // namespace bdusim
