// A scripted panel for the upgrade routines: it records what they show, trace, probe and sleep,
// answers the probes from a script, and says stop when a test's condition holds. Sleeps return
// at once, so the 5 s and 1 s pauses of the real panel cost nothing here.
#pragma once

#include "upgrade/UpgradeSession.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

class FakeSession : public UpgradeSession {
public:
    void ShowProgress(std::int32_t percent) override
    {
        // The panel shows the value the worker stored; a routine that shows first would let it
        // read a stale figure.
        EXPECT_EQ(m_nProgress.load(), percent);
        shown.push_back(percent);
    }
    bool KeepRunning() override { return !stopWhen || !stopWhen(*this); }
    bool PingIcmp(const std::string& target) override
    {
        pings.push_back("icmp " + target);
        return icmpAnswer;
    }
    bool PingRaw(const std::string& target) override
    {
        pings.push_back("raw " + target);
        if (rawAnswers.empty())
            return rawAnswerOnceScriptEnds;
        const bool answer = rawAnswers.front();
        rawAnswers.pop_front();
        return answer;
    }
    void Trace(const std::string& line) override { traces.push_back(line); }
    bool SleepUnlessStopped(std::int32_t milliseconds) override
    {
        sleeps.push_back(milliseconds);
        return KeepRunning();
    }

    // Probe answers: PingIcmp always gives icmpAnswer; PingRaw takes rawAnswers in order, then
    // rawAnswerOnceScriptEnds.
    bool icmpAnswer = false;
    std::deque<bool> rawAnswers;
    bool rawAnswerOnceScriptEnds = false;
    // Asked on every KeepRunning and sleep: true means the panel is being closed.
    std::function<bool(const FakeSession&)> stopWhen;

    std::vector<std::int32_t> shown;
    std::vector<std::string> pings;
    std::vector<std::string> traces;
    std::vector<std::int32_t> sleeps;
};
