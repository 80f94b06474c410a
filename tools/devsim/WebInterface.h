// What the device's CGI page vb.htm answers: the credential queries and the upgrade progress,
// each behind Basic authentication with the device's user and password.
#pragma once

#include "Device.h"
#include "HttpMessage.h"

#include <optional>
#include <string>
#include <string_view>

namespace devsim {

enum class VbQuery {
    Authority,       // /vb.htm?paratest=authority (cameras)
    SerialNumber,    // /vb.htm?getserialnum= (NVRs)
    LongSerial,      // /vb.htm?getlongsesn= (DVRs)
    UpgradeProgress, // /vb.htm?setuser=<user>&upgradeprocess
};

struct RoutedTarget {
    std::optional<VbQuery> query; // nothing: not a page of the device
    std::string setUser;          // the <user> of UpgradeProgress, as sent (not unescaped)
};

RoutedTarget RouteTarget(std::string_view target);

struct Authorization {
    std::optional<std::string> header; // the Authorization value as sent
    std::optional<std::string> user;   // decoded, when it was a Basic token
    bool authorized = false;           // user and password are the device's
};

Authorization CheckAuthorization(const HttpRequest& request, const DeviceSettings& settings);

struct WebAnswer {
    int status = 200;
    std::string response; // the bytes to send
    Authorization authorization;
    RoutedTarget route;
    // The value a progress query reported, when it was answered with 200.
    std::optional<std::string> progress;
};

// For HttpBehaviour::Normal and ::Status; a Status device answers every request with its status
// and a short text, and its progress does not move. Moves the device's progress on.
WebAnswer AnswerRequest(const HttpRequest& request, Device& device);

// "SN" and the MAC's twelve hex digits: what the serial-number queries report.
std::string SerialNumber(const DeviceSettings& settings);

} // namespace devsim
