#include "valdor/production/unit_report.h"

#include <charconv>
#include <vector>

namespace valdor {

namespace {

using std::chrono::system_clock;

void field(std::string &line, std::string_view text) {
    line += '\t';
    for (char c : text) {
        switch (c) {
            case '\\': line += "\\\\"; break;
            case '\t': line += "\\t"; break;
            case '\n': line += "\\n"; break;
            case '\r': line += "\\r"; break;
            default: line += c;
        }
    }
}

template <class Number>
void numberField(std::string &line, Number n) {
    char buf[64];
    auto [end, error] = std::to_chars(buf, buf + sizeof buf, n);
    field(line, error == std::errc() ? std::string_view(buf, static_cast<size_t>(end - buf)) : "0");
}

std::optional<std::vector<std::string>> split(std::string_view line) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c != '\\') {
            fields.back() += c;
        } else if (++i < line.size()) {
            switch (line[i]) {
                case '\\': fields.back() += '\\'; break;
                case 't': fields.back() += '\t'; break;
                case 'n': fields.back() += '\n'; break;
                case 'r': fields.back() += '\r'; break;
                default: return std::nullopt;
            }
        } else {
            return std::nullopt;
        }
    }
    return fields;
}

template <class Number>
bool read(const std::string &text, Number &n) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    return error == std::errc() && end == text.data() + text.size();
}

bool readStart(const std::string &text, system_clock::time_point &start) {
    long long us = 0;
    if (!read(text, us)) return false;
    start = system_clock::time_point(std::chrono::duration_cast<system_clock::duration>(std::chrono::microseconds(us)));
    return true;
}

long long microseconds(system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

std::optional<Outcome> outcomeOf(const std::string &text) {
    for (Outcome o : {Outcome::Pass, Outcome::Fail, Outcome::Error, Outcome::Timeout, Outcome::Aborted, Outcome::Skipped})
        if (text == outcomeText(o)) return o;
    return std::nullopt;
}

}  // namespace

std::string encodeUnitEvent(const UnitEvent &event) {
    std::string line;
    switch (event.kind) {
        case UnitEvent::Kind::Begin:
            line = "begin";
            numberField(line, event.index);
            numberField(line, microseconds(event.step.start));
            break;
        case UnitEvent::Kind::End:
            line = "end";
            numberField(line, event.index);
            field(line, outcomeText(event.step.outcome));
            numberField(line, microseconds(event.step.start));
            numberField(line, event.step.seconds);
            field(line, event.serial);
            field(line, event.step.message);
            numberField(line, event.step.expectations.size());
            for (const auto &e : event.step.expectations) {
                for (const std::string *text : {&e.control, &e.op, &e.expected, &e.actual}) field(line, *text);
                field(line, e.held ? "1" : "0");
            }
            break;
        case UnitEvent::Kind::Done: line = "done"; break;
    }
    return line + "\n";
}

std::optional<UnitEvent> decodeUnitEvent(std::string_view line) {
    auto fields = split(line);
    if (!fields) return std::nullopt;
    const auto &f = *fields;
    UnitEvent event;
    if (f[0] == "done" && f.size() == 1) return event;
    if (f[0] == "begin" && f.size() == 3) {
        event.kind = UnitEvent::Kind::Begin;
        if (!read(f[1], event.index) || !readStart(f[2], event.step.start)) return std::nullopt;
        return event;
    }
    size_t count = 0;
    if (f[0] != "end" || f.size() < 8 || !read(f[7], count) || f.size() != 8 + 5 * count) return std::nullopt;
    event.kind = UnitEvent::Kind::End;
    auto outcome = outcomeOf(f[2]);
    if (!read(f[1], event.index) || !outcome || !readStart(f[3], event.step.start) || !read(f[4], event.step.seconds))
        return std::nullopt;
    event.step.outcome = *outcome;
    event.serial = f[5];
    event.step.message = f[6];
    for (size_t i = 0; i < count; ++i) {
        const size_t at = 8 + 5 * i;
        if (f[at + 4] != "0" && f[at + 4] != "1") return std::nullopt;
        event.step.expectations.push_back({f[at], f[at + 1], f[at + 2], f[at + 3], f[at + 4] == "1"});
    }
    return event;
}

}  // namespace valdor
