#pragma once
// Feedback that records every call, for the tests of anything that reports progress.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "disk/Feedback.h"

namespace quenlow::test {

class RecordingFeedback : public Feedback {
public:
    void status(const std::string& t) override { statuses.push_back(t); }
    void detail(const std::string& t) override { details.push_back(t); }
    void progressRange(int64_t low, int64_t high) override {
        range = {low, high};
        rangeHigh = high;
    }
    void progressPosition(int64_t p) override { positions.push_back(p); }
    void message(const std::string& t) override { messages.push_back(t); }
    bool ask(const std::string& q) override {
        questions.push_back(q);
        return answer;
    }
    bool saw(const std::vector<std::string>& texts, const std::string& t) const {
        for (const std::string& s : texts)
            if (s == t) return true;
        return false;
    }
    bool sawStatus(const std::string& t) const { return saw(statuses, t); }
    bool sawMessage(const std::string& t) const { return saw(messages, t); }

    std::vector<std::string> statuses, details, messages, questions;
    std::vector<int64_t> positions;
    std::pair<int64_t, int64_t> range{-1, -1};
    int64_t rangeHigh = -1;
    bool answer = true;
};

}  // namespace quenlow::test
