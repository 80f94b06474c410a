// After UploadAndPoll has handed over a package, the device installs it on its own and reports how
// far it has come on its web page: "GET /vb.htm?setuser=<user>&upgradeprocess" with Basic
// authorization answers a body holding "process=<percent>" (a fraction allowed), ended by "<br>",
// a line feed or the end of the body. The poll asks once a second and shows the figure, never
// below 50 (the transfer took the bar to 50), until the device says exactly 100.
#pragma once

#include "upgrade/UpgradeSession.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class CHttpRequest;

// The longest "user:password" whose Basic token (4 bytes per 3, plus the closing NUL) fits the
// devices' 512-byte credential buffer.
constexpr std::size_t kMaxCredentialBytes = 381;

enum class PollOutcome {
    // The device reported 100.
    Done,
    // The joined credential is longer than kMaxCredentialBytes; nothing was sent.
    Refused,
    // KeepRunning turned false before the device reported 100.
    Stopped,
};

// The characters after the first `key` in `source`, up to the first "<br>" (lower case, exactly),
// the first `stopChar`, or the end. A missing or empty key gives the empty text.
std::string GetValueAfterKey(std::string_view source, std::string_view key, char stopChar);

// The number at the start of `value` read as a floating-point value the way the C runtime's
// strtod reads it (leading white space, sign, fraction, exponent), truncated toward zero; no
// number gives 0, and values beyond the 32-bit range stop at its ends.
std::int32_t LeadingPercent(std::string_view value);

// The progress page of the job's device: "http://<ip>:<port text>/vb.htm?setuser=<user>
// &upgradeprocess", the user name inserted unescaped, as the devices expect it.
std::string ProgressTarget(const UpgradeJob& job);

// Polls through a request object of its own until the device reports 100. Each pass: one GET;
// when it succeeds with "200 OK" in the header, the value after "process=" is traced to the
// debugger as "UPGRADE:<n>\r\n", raised to 50 if lower, stored and shown; then a 1 s sleep. A
// failed pass leaves the figure and the bar as they were. There is no limit on passes: a device
// that never reports 100 is polled until the panel closes (Stopped).
PollOutcome PollUpgradeProgress(const UpgradeJob& job, UpgradeSession& session);

// The same through `requestObject`, which serves every request of the call.
PollOutcome PollUpgradeProgress(const UpgradeJob& job, UpgradeSession& session,
                                CHttpRequest& requestObject);
