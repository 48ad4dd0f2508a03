#include "valdor/production/run_view.h"

#include <algorithm>
#include <cmath>

namespace valdor {

namespace {

std::string outcomeOfSteps(const UnitResult &unit) {
    bool anyEnded = false;
    for (const auto &step : unit.steps) {
        if (step.outcome == Outcome::Skipped) continue;
        if (step.outcome != Outcome::Pass) return outcomeText(step.outcome);
        anyEnded = true;
    }
    return anyEnded ? outcomeText(Outcome::Pass) : "-";
}

std::string secondsShown(double seconds) { return std::to_string(static_cast<long>(std::floor(seconds))) + " s"; }

// Lines of cells in columns two blanks apart; the last column is not
// padded.  Each line is cut to `width`.
std::vector<std::string> columns(const std::vector<std::vector<std::string>> &cells, size_t width) {
    std::vector<size_t> widths;
    for (const auto &row : cells)
        for (size_t c = 0; c < row.size(); ++c) {
            if (widths.size() <= c) widths.push_back(0);
            widths[c] = std::max(widths[c], row[c].size());
        }
    std::vector<std::string> lines;
    for (const auto &row : cells) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (line.size() > width) line.resize(width);
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace

std::string oneLine(std::string_view text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b != 0x7f) {
            out += c;
        } else {
            out += "\\x";
            out += digits[b >> 4];
            out += digits[b & 15];
        }
    }
    return out;
}

std::string stepLine(const UnitResult &unit, const StepResult &step) {
    return oneLine(unit.name) + "\t" + oneLine(step.name) + "\t" + outcomeText(step.outcome) + "\t" +
           oneLine(step.message);
}

std::string countsLine(const std::vector<UnitResult> &units) {
    size_t passed = 0, failed = 0, error = 0, timeout = 0, aborted = 0;
    for (const auto &unit : units) {
        switch (verdict(unit)) {
            case Outcome::Pass: ++passed; break;
            case Outcome::Fail: ++failed; break;
            case Outcome::Timeout: ++timeout; break;
            case Outcome::Aborted: ++aborted; break;
            // A unit is SKIPPED only when none of its steps ran: the station failed it.
            case Outcome::Error:
            case Outcome::Skipped: ++error; break;
        }
    }
    return "run: " + std::to_string(passed) + " passed, " + std::to_string(failed) + " failed, " +
           std::to_string(error) + " error, " + std::to_string(timeout) + " timeout, " + std::to_string(aborted) +
           " aborted";
}

std::string outcomeSoFar(const UnitRow &row) {
    return row.over ? outcomeText(verdict(*row.unit)) : outcomeOfSteps(*row.unit);
}

std::vector<std::string> unitLines(const std::vector<UnitRow> &rows, size_t width) {
    std::vector<std::vector<std::string>> cells{{"UNIT", "PORT", "SERIAL", "STEP", "TIME", "OUTCOME"}};
    for (const auto &row : rows) {
        const UnitResult &u = *row.unit;
        const std::string step = row.over ? "done" : row.current ? u.steps.at(*row.current).name : "-";
        cells.push_back({oneLine(u.name), oneLine(u.port), u.serial.empty() ? "-" : oneLine(u.serial), oneLine(step),
                         secondsShown(row.seconds), outcomeSoFar(row)});
    }
    return columns(cells, width);
}

std::vector<std::string> summaryTable(const std::vector<UnitResult> &units, size_t width) {
    std::vector<std::vector<std::string>> cells{{"UNIT", "PORT", "SERIAL", "OUTCOME", "SECONDS", "STEP", "MESSAGE"}};
    for (const auto &u : units) {
        const StepResult *deciding = decidingStep(u);
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", unitSeconds(u));
        cells.push_back({oneLine(u.name), oneLine(u.port), u.serial.empty() ? "-" : oneLine(u.serial),
                         outcomeText(verdict(u)), seconds, deciding ? oneLine(deciding->name) : "-",
                         deciding ? oneLine(deciding->message) : ""});
    }
    return columns(cells, width);
}

void RunView::stepEnded(const UnitResult &unit, const StepResult &step) {
    changed_ = true;
    if (terminal()) return;
    std::fprintf(out_, "%s\n", stepLine(unit, step).c_str());
    std::fflush(out_);
}

void RunView::draw(const std::vector<std::string> &lines) {
    std::string text;
    // Back to the first line drawn last time, then each line anew.
    if (drawn_ > 0) text += "\x1b[" + std::to_string(drawn_) + "A\r";
    for (const auto &line : lines) text += line + "\x1b[K\n";
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
    drawn_ = lines.size();
    shown_ = lines;
}

RunView::Clock::time_point RunView::refresh(const std::vector<UnitRow> &rows, Clock::time_point now) {
    if (!terminal()) return Clock::time_point::max();
    if (drawn_ > 0 && now < lastDraw_ + kRedrawEvery) return lastDraw_ + kRedrawEvery;
    const auto lines = unitLines(rows, width_ - 1);
    if (lines != shown_ || changed_) {
        draw(lines);
        lastDraw_ = now;
        changed_ = false;
    }
    // Soon enough for the seconds to tick by one at a time.
    return now + std::chrono::milliseconds(250);
}

void RunView::finish(const std::vector<UnitRow> &rows, const std::vector<UnitResult> &units, const std::string &dir) {
    if (terminal()) {
        draw(unitLines(rows, width_ - 1));
        std::string text = "\n";
        for (const auto &line : summaryTable(units, width_ - 1)) text += line + "\n";
        std::fputs(text.c_str(), out_);
    }
    std::fprintf(out_, "%s\n%s\n", countsLine(units).c_str(), dir.c_str());
    std::fflush(out_);
}

}  // namespace valdor
