// A Host for the console's logic without a window: file choices are
// scripted, slow calls run in place and are counted.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "valdor/panel/host.h"

namespace testsupport {

class FakeHost : public valdor::Host {
public:
    std::optional<std::string> chooseFile(std::span<const valdor::FileFilter> filters,
                                          std::string_view initialName) override {
        lastFilters.assign(filters.begin(), filters.end());
        lastInitialName = std::string(initialName);
        ++dialogs;
        if (answers.empty()) return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }

    void runBlocking(const std::function<void()> &call) override {
        ++blockingCalls;
        call();
    }

    void closeWindow() override { ++closes; }

    std::deque<std::optional<std::string>> answers;  // nullopt = cancel
    std::vector<valdor::FileFilter> lastFilters;
    std::string lastInitialName;
    int dialogs = 0;
    int blockingCalls = 0;
    int closes = 0;
};

}  // namespace testsupport
