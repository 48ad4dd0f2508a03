// A Host without a window: file choices are scripted, slow calls run in
// place and are counted, and a test may step in after each slow call.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "valdor/panel/host.h"

namespace testsupport {

class FakeHost : public valdor::Host {
public:
    // Each dialog takes the next of `answers`; once they are used up it
    // returns `answer` (nothing = cancel).
    std::optional<std::string> chooseFile(std::span<const valdor::FileFilter> filters,
                                          std::string_view initialName) override {
        lastFilters.assign(filters.begin(), filters.end());
        lastInitialName = std::string(initialName);
        ++dialogs;
        if (answers.empty()) return answer;
        auto next = answers.front();
        answers.pop_front();
        return next;
    }

    void runBlocking(const std::function<void()> &call) override {
        ++blockingCalls;
        call();
        if (afterBlockingCall) afterBlockingCall();
    }

    // With `whileResponsive` set, the call runs on a thread of its own and
    // the test acts meanwhile, as a click in a live window would.
    void runResponsive(const std::function<void()> &call) override {
        if (!whileResponsive) return call();
        std::thread running(call);
        whileResponsive();
        running.join();
    }

    void closeWindow() override { ++closes; }

    std::deque<std::optional<std::string>> answers;  // nullopt = cancel
    std::optional<std::string> answer;               // when `answers` is empty
    // Runs after each slow call has returned: a test's way in between the
    // steps of COM Close.
    std::function<void()> afterBlockingCall;
    std::function<void()> whileResponsive;

    std::vector<valdor::FileFilter> lastFilters;
    std::string lastInitialName;
    int dialogs = 0;
    int blockingCalls = 0;
    int closes = 0;
};

}  // namespace testsupport
