#include "measure.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "valdor/panel/controls.h"

namespace bench {

namespace ctl = valdor::ctl;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

Stopwatch::Stopwatch() : start_(Clock::now()), cpuStart_(cpuSeconds()) {}

void Stopwatch::stop() {
    wall_ = std::chrono::duration<double>(Clock::now() - start_).count();
    cpu_ = cpuSeconds() - cpuStart_;
}

std::string format(const char *fmt, double value) {
    char text[64];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

double median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

void Table::print() const {
    size_t widths[4] = {7, 5, 6, 7};
    for (const auto &r : rows_) {
        widths[0] = std::max(widths[0], r.what.size());
        widths[1] = std::max(widths[1], r.value.size());
        widths[2] = std::max(widths[2], r.target.size());
    }
    auto line = [&](const std::string &a, const std::string &b, const std::string &c, const std::string &d) {
        std::printf("| %-*s | %*s | %-*s | %-*s |\n", static_cast<int>(widths[0]), a.c_str(),
                    static_cast<int>(widths[1]), b.c_str(), static_cast<int>(widths[2]), c.c_str(),
                    static_cast<int>(widths[3]), d.c_str());
    };
    line("Measure", "Value", "Target", "Verdict");
    std::printf("|%s|%s:|%s|%s|\n", std::string(widths[0] + 2, '-').c_str(),
                std::string(widths[1] + 1, '-').c_str(), std::string(widths[2] + 2, '-').c_str(),
                std::string(widths[3] + 2, '-').c_str());
    for (const auto &r : rows_) line(r.what, r.value, r.target, r.verdict);
    std::fflush(stdout);
}

Session::Session(std::vector<std::string> unitOptions, bool showMessages, const std::string &via) {
    constexpr int kCom = 5;
    unit_ = std::make_unique<testsupport::Bdusim>(std::move(unitOptions));
    if (via.empty()) {
        unit_->mapCom(kCom);
    } else {
        char folder[] = "/tmp/valdor-bench-ser2net-XXXXXX";
        if (!mkdtemp(folder)) throw std::runtime_error("mkdtemp failed");
        serverFolder_ = folder;
        server_ = std::make_unique<testsupport::Ser2net>(unit_->path(), serverFolder_);
        setenv(("RSLINK_COM" + std::to_string(kCom)).c_str(), server_->url(via).c_str(), 1);
    }
    panel_.setMessageObserver([this](const std::string &line) {
        const auto now = Clock::now();
        {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
            times_.push_back(now);
        }
        changed_.notify_all();
    });
    console_ = std::make_unique<valdor::Console>(panel_, *this);
    console_->initialise();
    panel_.setSelection(ctl::ComPort, kCom - 1);
    console_->press(ctl::ComOpen);
    if (!console_->portOpen()) throw std::runtime_error("COM Open failed against bdusim");
    panel_.setChecked(ctl::ShowMessages, showMessages);
}

Session::~Session() {
    console_->exit();
    console_.reset();
    server_.reset();
    if (!serverFolder_.empty()) std::filesystem::remove_all(serverFolder_);
    unit_.reset();
}

bool Session::waitForLine(const std::string &line, size_t times, std::chrono::seconds timeout) {
    std::unique_lock lock(mutex_);
    size_t seen = 0, checked = 0;
    return changed_.wait_for(lock, timeout, [&] {
        for (; checked < lines_.size(); ++checked) seen += lines_[checked] == line ? 1 : 0;
        return seen >= times;
    });
}

std::vector<std::string> Session::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::vector<Clock::time_point> Session::timesOf(const std::string &prefix) const {
    std::lock_guard lock(mutex_);
    std::vector<Clock::time_point> out;
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].rfind(prefix, 0) == 0) out.push_back(times_[i]);
    return out;
}

}  // namespace bench
