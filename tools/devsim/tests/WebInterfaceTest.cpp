#include "WebInterface.h"

#include <gtest/gtest.h>

namespace devsim {
namespace {

TEST(WebInterface, RoutesTheDevicesQueries)
{
    struct Case {
        const char* target;
        std::optional<VbQuery> query;
        const char* setUser;
    };
    const Case cases[] = {
        {"/vb.htm?paratest=authority", VbQuery::Authority, ""},
        {"/vb.htm?getserialnum=", VbQuery::SerialNumber, ""},
        {"/vb.htm?getlongsesn=", VbQuery::LongSerial, ""},
        {"/vb.htm?setuser=admin&upgradeprocess", VbQuery::UpgradeProgress, "admin"},
        {"/vb.htm?setuser=&upgradeprocess", VbQuery::UpgradeProgress, ""},
        // The tool does not escape the user name.
        {"/vb.htm?setuser=a&b c&upgradeprocess", VbQuery::UpgradeProgress, "a&b c"},
        {"/vb.htm?setuser=admin", std::nullopt, ""},
        {"/vb.htm?setuser&upgradeprocess", std::nullopt, ""},
        {"/vb.htm?paratest=authority&x=1", std::nullopt, ""},
        {"/VB.HTM?paratest=authority", std::nullopt, ""},
        {"/vb.htm?getserialnum=1", std::nullopt, ""},
        {"/vb.htm", std::nullopt, ""},
        {"/", std::nullopt, ""},
    };
    for (const Case& c : cases) {
        const RoutedTarget route = RouteTarget(c.target);
        EXPECT_EQ(route.query, c.query) << c.target;
        EXPECT_EQ(route.setUser, c.setUser) << c.target;
    }
}

HttpRequest ProgressQuery()
{
    return {"GET",
            "/vb.htm?setuser=admin&upgradeprocess",
            "HTTP/1.1",
            {{"Authorization", "Basic YWRtaW46YWRtaW4="}}};
}

std::vector<std::string> Poll(Device& device, int times)
{
    std::vector<std::string> values;
    for (int i = 0; i < times; ++i) {
        const WebAnswer answer = AnswerRequest(ProgressQuery(), device);
        EXPECT_EQ(answer.status, 200);
        values.push_back(answer.progress.value_or("none"));
        EXPECT_TRUE(answer.response.ends_with("\r\n\r\nprocess=" + values.back() + "<br>"));
    }
    return values;
}

TEST(WebInterface, ProgressRunsThroughItsValuesOncePerPackage)
{
    Device device;
    using Values = std::vector<std::string>;
    EXPECT_EQ(Poll(device, 2), (Values{"0", "0"})); // no package yet

    device.state.packageReceived = true;
    EXPECT_EQ(Poll(device, 7), (Values{"0", "25", "50", "75", "100", "100", "100"}));

    device.settings.progressValues = {"30", "87.9", "101"};
    device.state.progressAnswers = 0; // a new package
    EXPECT_EQ(Poll(device, 4), (Values{"30", "87.9", "101", "101"}));
}

TEST(WebInterface, RefusedProgressQueriesDoNotMoveIt)
{
    Device device;
    device.state.packageReceived = true;
    HttpRequest wrong = ProgressQuery();
    wrong.headers = {{"Authorization", "Basic YWRtaW46d3Jvbmc="}};
    EXPECT_EQ(AnswerRequest(wrong, device).status, 401);
    device.settings.httpBehaviour = HttpBehaviour::Status;
    device.settings.httpStatus = 200;
    const WebAnswer forced = AnswerRequest(ProgressQuery(), device);
    EXPECT_EQ(forced.status, 200);
    EXPECT_FALSE(forced.progress);
    EXPECT_EQ(forced.response.find("process="), std::string::npos);
    EXPECT_EQ(device.state.progressAnswers, 0u);
}

} // namespace
} // namespace devsim
