#include "valdor/production/records.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rslink/platform/fd_io.h"

namespace valdor {

namespace {

// The length of the valid UTF-8 character at `at` (1 to 4), or 0 when the
// byte there starts none: no overlong forms, no surrogates, nothing above
// U+10FFFF.
size_t characterLength(std::string_view s, size_t at) {
    const auto c = static_cast<unsigned char>(s[at]);
    if (c < 0x80) return 1;
    size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's bounds
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (s.size() - at < n) return 0;
    for (size_t k = 1; k < n; ++k) {
        const auto d = static_cast<unsigned char>(s[at + k]);
        if (d < (k == 1 ? low : 0x80) || d > (k == 1 ? high : 0xBF)) return 0;
    }
    return n;
}

// Calls `character` with each valid UTF-8 character of `text` and `odd`
// with each byte that is not part of one.
template <class Character, class Odd>
void walk(std::string_view text, Character character, Odd odd) {
    for (size_t at = 0; at < text.size();) {
        if (size_t n = characterLength(text, at)) {
            character(text.substr(at, n));
            at += n;
        } else {
            odd(static_cast<unsigned char>(text[at++]));
        }
    }
}

void appendHexByte(std::string &out, const char *prefix, unsigned char b) {
    static const char digits[] = "0123456789ABCDEF";
    out += prefix;
    out += digits[b >> 4];
    out += digits[b & 15];
}

bool forbiddenInXml(std::string_view c) {
    if (c.size() == 1) return static_cast<unsigned char>(c[0]) < 0x20 && c[0] != '\t' && c[0] != '\n' && c[0] != '\r';
    return c == "\xEF\xBF\xBE" || c == "\xEF\xBF\xBF";  // U+FFFE, U+FFFF
}

// The text with what XML 1.0 forbids, and bytes outside UTF-8, as \xHH.
std::string markForbidden(std::string_view text) {
    std::string out;
    walk(
        text,
        [&](std::string_view c) {
            if (!forbiddenInXml(c)) return void(out += c);
            for (char b : c) appendHexByte(out, "\\x", static_cast<unsigned char>(b));
        },
        [&](unsigned char b) { appendHexByte(out, "\\x", b); });
    return out;
}

// Attribute values keep their tabs and line ends only as references; a
// reader folds them to blanks otherwise.
std::string xmlEscape(std::string_view text, bool attribute) {
    std::string out;
    for (char c : markForbidden(text)) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            case '\r': out += "&#13;"; break;
            case '\n': out += attribute ? "&#10;" : "\n"; break;
            case '\t': out += attribute ? "&#9;" : "\t"; break;
            default: out += c;
        }
    }
    return out;
}

std::string csvField(std::string_view text) {
    std::string marked = markForbidden(text);
    if (marked.find_first_of(",\"\r\n") == std::string::npos) return marked;
    std::string out = "\"";
    for (char c : marked) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// Seconds with three decimals and a point, whatever the locale.
std::string secondsText(double seconds) {
    char buf[64];
    auto [end, error] = std::to_chars(buf, buf + sizeof buf, seconds, std::chars_format::fixed, 3);
    return error == std::errc() ? std::string(buf, end) : "0.000";
}

std::string timeText(std::chrono::system_clock::time_point t, bool millisecondsAndZone) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
    const auto msPart = ((ms % 1000) + 1000) % 1000;
    const std::time_t secs = static_cast<std::time_t>((ms - msPart) / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    std::string text = buf;
    if (millisecondsAndZone) {
        std::snprintf(buf, sizeof buf, ".%03dZ", static_cast<int>(msPart));
        text += buf;
    }
    return text;
}

struct Counts {
    size_t tests = 0, failures = 0, errors = 0, skipped = 0;
    double seconds = 0;

    void add(const StepResult &step) {
        ++tests;
        seconds += step.seconds;
        if (step.outcome == Outcome::Fail) ++failures;
        if (step.stopped()) ++errors;
        if (step.outcome == Outcome::Skipped) ++skipped;
    }
    std::string attributes() const {
        return "tests=\"" + std::to_string(tests) + "\" failures=\"" + std::to_string(failures) + "\" errors=\"" +
               std::to_string(errors) + "\" skipped=\"" + std::to_string(skipped) + "\"";
    }
};

std::string property(const char *name, const std::string &value) {
    return "      <property name=\"" + std::string(name) + "\" value=\"" + xmlEscape(value, true) + "\"/>\n";
}

std::string testcase(const UnitResult &unit, const StepResult &step, size_t index) {
    char number[24];
    std::snprintf(number, sizeof number, "%02zu ", index);
    std::string xml = "    <testcase classname=\"" + xmlEscape(unit.name, true) + "\" name=\"" +
                      xmlEscape(number + step.name, true) + "\" time=\"" + secondsText(step.seconds) + "\"";
    auto element = [&](const char *tag, const char *type) {
        return ">\n      <" + std::string(tag) + " type=\"" + type + "\" message=\"" + xmlEscape(step.message, true) +
               "\">" + xmlEscape(step.message, false) + "</" + tag + ">\n    </testcase>\n";
    };
    switch (step.outcome) {
        case Outcome::Pass: return xml + "/>\n";
        case Outcome::Fail: return xml + element("failure", "expect");
        case Outcome::Skipped: return xml + ">\n      <skipped/>\n    </testcase>\n";
        case Outcome::Error:
        case Outcome::Timeout:
        case Outcome::Aborted: return xml + element("error", outcomeText(step.outcome));
    }
    return xml + "/>\n";
}

std::string testsuite(const UnitResult &unit, const RunInfo &info, Counts &all) {
    Counts counts;
    for (const auto &step : unit.steps) counts.add(step);
    all.tests += counts.tests;
    all.failures += counts.failures;
    all.errors += counts.errors;
    all.skipped += counts.skipped;
    std::string xml = "  <testsuite name=\"" + xmlEscape(unit.name, true) + "\" " + counts.attributes() +
                      " time=\"" + secondsText(counts.seconds) + "\" hostname=\"" + xmlEscape(info.station, true) + "\"";
    for (const auto &step : unit.steps)
        if (step.outcome != Outcome::Skipped) {
            xml += " timestamp=\"" + timeText(step.start, false) + "\"";
            break;
        }
    xml += ">\n    <properties>\n" + property("serial", unit.serial) + property("port", unit.port) +
           property("station", info.station) + property("recipe_sha256", info.recipeSha256) + "    </properties>\n";
    for (size_t i = 0; i < unit.steps.size(); ++i) xml += testcase(unit, unit.steps[i], i + 1);
    return xml + "  </testsuite>\n";
}


// A new or renamed entry survives a crash only once its folder is synced.
rslink::Result<> syncFolderOf(const std::string &path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return rslink::Failure::ofErrno("cannot open the folder " + folder);
    rslink::Result<> synced;
    if (::fsync(fd) != 0) synced = rslink::Failure::ofErrno("cannot sync the folder " + folder);
    ::close(fd);
    return synced;
}

}  // namespace

rslink::Result<std::string> readWhole(int fd) {
    std::string text;
    char buffer[8192];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return rslink::Failure::ofErrno("cannot read");
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    walk(
        text,
        [&](std::string_view c) {
            const auto b = static_cast<unsigned char>(c[0]);
            if (c.size() > 1 || (b >= 0x20 && b != '"' && b != '\\')) return void(out += c);
            switch (b) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '\b': out += "\\b"; break;
                case '\f': out += "\\f"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                default: appendHexByte(out, "\\u00", b);
            }
        },
        [&](unsigned char b) { appendHexByte(out, "\\u00", b); });
    return out + "\"";
}

std::string utcTimestamp(std::chrono::system_clock::time_point t) { return timeText(t, true); }

std::string stepJsonLine(const UnitResult &unit, const StepResult &step) {
    std::string line = "{\"unit\":" + jsonString(unit.name) + ",\"port\":" + jsonString(unit.port) +
                       ",\"serial\":" + jsonString(unit.serial) + ",\"step\":" + jsonString(step.name) +
                       ",\"outcome\":\"" + outcomeText(step.outcome) + "\",\"start\":\"" + utcTimestamp(step.start) +
                       "\",\"seconds\":" + secondsText(step.seconds) + ",\"expectations\":[";
    for (size_t i = 0; i < step.expectations.size(); ++i) {
        const auto &e = step.expectations[i];
        line += (i > 0 ? ",{\"control\":" : "{\"control\":") + jsonString(e.control) + ",\"op\":" + jsonString(e.op) +
                ",\"expected\":" + jsonString(e.expected) + ",\"actual\":" + jsonString(e.actual) +
                ",\"held\":" + (e.held ? "true}" : "false}");
    }
    return line + "],\"message\":" + jsonString(step.message) + "}\n";
}

// RFC 4180: CRLF after every row, a field quoted when it holds a comma, a
// quote or a line end.
std::string summaryCsv(const RunResult &run) {
    std::string csv = std::string(kSummaryCsvHeader) + "\r\n";
    for (const auto &unit : run.units) {
        const StepResult *deciding = decidingStep(unit);
        const std::string fields[] = {unit.name,
                                      unit.port,
                                      unit.serial,
                                      outcomeText(verdict(unit)),
                                      deciding ? deciding->name : "",
                                      deciding ? deciding->message : "",
                                      secondsText(unitSeconds(unit)),
                                      run.info.station,
                                      run.info.recipeSha256,
                                      run.info.valdorVersion};
        for (size_t i = 0; i < std::size(fields); ++i) csv += (i > 0 ? "," : "") + csvField(fields[i]);
        csv += "\r\n";
    }
    return csv;
}

std::string junitXml(const RunResult &run) {
    Counts all;
    std::string suites;
    for (const auto &unit : run.units) suites += testsuite(unit, run.info, all);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites " + all.attributes() + " time=\"" +
           secondsText(run.info.seconds) + "\">\n" + suites + "</testsuites>\n";
}

StepsFile::StepsFile(const std::string &path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) opened_ = rslink::Failure::ofErrno("cannot create " + path);
    else opened_ = syncFolderOf(path);
}

StepsFile::~StepsFile() {
    if (fd_ >= 0) ::close(fd_);
}

rslink::Result<> StepsFile::append(const UnitResult &unit, const StepResult &step) {
    if (fd_ < 0) return opened_;
    const std::string line = stepJsonLine(unit, step);
    if (auto written = rslink::platform::writeAll(fd_, line.data(), line.size()); !written)
        return rslink::Failure::of(written.failure().error, "cannot append to " + path_);
    if (::fsync(fd_) != 0) return rslink::Failure::ofErrno("cannot sync " + path_);
    return {};
}

rslink::Result<> completeStepsFile(const std::string &path, const UnitResult &unit) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return rslink::Failure::ofErrno("cannot open " + path);
    const rslink::Result<std::string> read = readWhole(fd);
    if (!read) {
        ::close(fd);
        return rslink::Failure::of(read.failure().error, "cannot read " + path);
    }
    const std::string &text = *read;
    const size_t whole = text.rfind('\n') + 1;  // 0 when there is no line end
    if (whole != text.size() && ::ftruncate(fd, static_cast<off_t>(whole)) != 0) {
        const rslink::Failure failure = rslink::Failure::ofErrno("cannot cut " + path + " to its whole lines");
        ::close(fd);
        return failure;
    }
    ::close(fd);
    StepsFile file(path);
    for (size_t i = static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(whole), '\n'));
         i < unit.steps.size(); ++i)
        if (auto appended = file.append(unit, unit.steps[i]); !appended) return appended;
    return {};
}

rslink::Result<> replaceFile(const std::string &path, std::string_view content) {
    auto fail = [&](int error) { return rslink::Failure::of(error, "cannot write " + path); };
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return fail(errno);
    int error = 0;
    if (auto written = rslink::platform::writeAll(fd, content.data(), content.size()); !written)
        error = written.failure().error;
    // mkostemp makes the file private; a record is for others to read.
    if (error == 0 && ::fchmod(fd, 0644) != 0) error = errno;
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return fail(error);
    }
    if (auto synced = syncFolderOf(path); !synced) return fail(synced.failure().error);
    return {};
}

}  // namespace valdor
