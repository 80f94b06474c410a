#include "ProgressPolling.h"

#include "http/Base64.h"
#include "http/HttpRequest.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

constexpr std::int32_t kPollIntervalMs = 1'000;
// The transfer has already taken the bar to 50; the device's figure counts from there.
constexpr std::int32_t kLowestShownPercent = 50;
constexpr std::int32_t kFinishedPercent = 100;

} // namespace

std::string GetValueAfterKey(std::string_view source, std::string_view key, char stopChar)
{
    if (key.empty())
        return {};
    const std::size_t keyAt = source.find(key);
    if (keyAt == std::string_view::npos)
        return {};
    const std::string_view rest = source.substr(keyAt + key.size());
    const std::size_t end = std::min(rest.find("<br>"), rest.find(stopChar));
    return std::string(rest.substr(0, end));
}

std::int32_t LeadingPercent(std::string_view value)
{
    // strtod wants a terminated text; the copy also keeps it from reading past the value. The
    // program never changes the C locale, so the decimal point is '.'.
    const std::string text(value);
    const double number = std::strtod(text.c_str(), nullptr);
    if (std::isnan(number))
        return 0;
    if (number >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (number <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(number);
}

std::string ProgressTarget(const UpgradeJob& job)
{
    return "http://" + job.deviceIpText + ":" + job.deviceHttpPort +
           "/vb.htm?setuser=" + job.userName + "&upgradeprocess";
}

PollOutcome PollUpgradeProgress(const UpgradeJob& job, UpgradeSession& session)
{
    CHttpRequest requestObject;
    return PollUpgradeProgress(job, session, requestObject);
}

PollOutcome PollUpgradeProgress(const UpgradeJob& job, UpgradeSession& session,
                                CHttpRequest& requestObject)
{
    const std::string credential = job.userName + ":" + job.password;
    if (credential.size() > kMaxCredentialBytes)
        return PollOutcome::Refused;
    const std::string token = Base64Text(credential);
    const std::string target = ProgressTarget(job);

    // The body is searched as the 8-bit text it arrives in: the key, "<br>", the line feed and
    // the number are ASCII, which every ANSI code page keeps as single bytes.
    std::int32_t percent = 0;
    for (;;) {
        // The device may never report 100 (or be gone for good); the loop's only other way out
        // is the panel closing, which must not have to wait for another request.
        if (!session.KeepRunning())
            return PollOutcome::Stopped;
        std::string requestText;
        std::string header;
        std::string body;
        if (HttpGet(requestObject, target.c_str(), token.c_str(), requestText, header, body) ==
                kHttpGetOk &&
            header.find("200 OK") != std::string::npos) {
            percent = LeadingPercent(GetValueAfterKey(body, "process=", '\n'));
            session.Trace("UPGRADE:" + std::to_string(percent) + "\r\n");
            if (percent <= kLowestShownPercent)
                percent = kLowestShownPercent;
            session.SetProgress(percent);
        }
        const bool slept = session.SleepUnlessStopped(kPollIntervalMs);
        if (percent == kFinishedPercent)
            return PollOutcome::Done;
        if (!slept)
            return PollOutcome::Stopped;
    }
}
