#include "WebInterface.h"

#include <algorithm>

namespace devsim {

namespace {

constexpr std::string_view kProgressPrefix = "/vb.htm?setuser=";
constexpr std::string_view kProgressSuffix = "&upgradeprocess";

std::string StatusText(int status)
{
    return std::to_string(status) + ' ' + std::string(ReasonPhrase(status)) + '\n';
}

// The value this query reports; moves the sequence on once a package has arrived.
std::string NextProgress(Device& device)
{
    DeviceState& state = device.state;
    const auto& values = device.settings.progressValues;
    if (!state.packageReceived || values.empty())
        return "0";
    const std::size_t index = std::min(state.progressAnswers, values.size() - 1);
    ++state.progressAnswers;
    return values[index];
}

} // namespace

RoutedTarget RouteTarget(std::string_view target)
{
    if (target == "/vb.htm?paratest=authority")
        return {VbQuery::Authority, {}};
    if (target == "/vb.htm?getserialnum=")
        return {VbQuery::SerialNumber, {}};
    if (target == "/vb.htm?getlongsesn=")
        return {VbQuery::LongSerial, {}};
    // The tool puts the user name in unescaped, so it may hold '&' itself: only the ends count.
    if (target.size() >= kProgressPrefix.size() + kProgressSuffix.size() &&
        target.starts_with(kProgressPrefix) && target.ends_with(kProgressSuffix))
        return {VbQuery::UpgradeProgress,
                std::string(target.substr(kProgressPrefix.size(), target.size() -
                                                                      kProgressPrefix.size() -
                                                                      kProgressSuffix.size()))};
    return {};
}

Authorization CheckAuthorization(const HttpRequest& request, const DeviceSettings& settings)
{
    Authorization result;
    result.header = HeaderValue(request, "Authorization");
    if (!result.header)
        return result;
    const BasicCredentials credentials = ParseBasicAuthorization(*result.header);
    result.user = credentials.user;
    result.authorized = credentials.user && credentials.hasColon &&
                        *credentials.user == settings.user &&
                        credentials.password == settings.password;
    return result;
}

std::string SerialNumber(const DeviceSettings& settings)
{
    std::string digits = FormatMac(settings.mac);
    std::erase(digits, ':');
    return "SN" + digits;
}

WebAnswer AnswerRequest(const HttpRequest& request, Device& device)
{
    WebAnswer answer;
    answer.authorization = CheckAuthorization(request, device.settings);
    answer.route = RouteTarget(request.target);
    const auto respond = [&](int status, const std::string& body, std::string_view extra = {}) {
        answer.status = status;
        answer.response = BuildHttpResponse(status, body, extra);
        return answer;
    };

    if (device.settings.httpBehaviour == HttpBehaviour::Status)
        return respond(device.settings.httpStatus, StatusText(device.settings.httpStatus));
    if (!answer.route.query)
        return respond(404, StatusText(404));
    if (request.method != "GET")
        return respond(405, StatusText(405), "Allow: GET\r\n");
    if (!answer.authorization.authorized)
        return respond(401, StatusText(401), "WWW-Authenticate: Basic realm=\"device\"\r\n");

    switch (*answer.route.query) {
    case VbQuery::Authority:
        return respond(200, "paratest=ok<br>");
    case VbQuery::SerialNumber:
        return respond(200, "getserialnum=" + SerialNumber(device.settings) + "<br>");
    case VbQuery::LongSerial:
        return respond(200, "getlongsesn=" + SerialNumber(device.settings) + "<br>");
    case VbQuery::UpgradeProgress:
        break;
    }
    answer.progress = NextProgress(device);
    return respond(200, "process=" + *answer.progress + "<br>");
}

} // namespace devsim
