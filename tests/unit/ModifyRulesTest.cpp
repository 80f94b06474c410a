// The checks a settings change passes before it is sent, and the credential query.
#include "app/CredentialQuery.h"
#include "discovery/ModifyRules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PortCase {
    std::int32_t http, rtsp, mobile;
    bool dvr;
    PortProblem expected;
};

class PortRules : public testing::TestWithParam<PortCase> {};

TEST_P(PortRules, ReportTheFirstRuleThatFails)
{
    const PortCase& c = GetParam();
    EXPECT_EQ(CheckPorts(c.http, c.rtsp, c.mobile, c.dvr), c.expected)
        << c.http << "/" << c.rtsp << "/" << c.mobile << (c.dvr ? " DVR" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PortRules,
    testing::Values(
        PortCase{80, 554, 8000, false, PortProblem::None},
        PortCase{1025, 554, 0, false, PortProblem::None},     // mobile never range-tested
        PortCase{65534, 65533, 8000, false, PortProblem::None},
        PortCase{1024, 554, 8000, false, PortProblem::HttpOutOfRange},
        PortCase{65535, 554, 8000, false, PortProblem::HttpOutOfRange},
        PortCase{0, 554, 8000, false, PortProblem::HttpOutOfRange}, // an empty field reads 0
        PortCase{80, 1000, 8000, false, PortProblem::RtspOutOfRange},
        PortCase{80, 1000, 8000, true, PortProblem::None},     // a DVR's RTSP is not ranged
        PortCase{1024, 1000, 8000, false, PortProblem::RtspOutOfRange}, // RTSP before HTTP
        PortCase{8080, 8080, 8000, false, PortProblem::Repeated}, // not a range message
        PortCase{80, 554, 80, false, PortProblem::Repeated},
        PortCase{80, 554, 554, false, PortProblem::Repeated},
        PortCase{80, 554, 554, true, PortProblem::None},       // a DVR may share RTSP and mobile
        PortCase{4000, 554, 8000, false, PortProblem::Repeated},
        PortCase{80, 8999, 8000, true, PortProblem::Repeated},
        PortCase{80, 554, 4000, true, PortProblem::Repeated},
        PortCase{1024, 8080, 8080, true, PortProblem::HttpOutOfRange}));

TEST(ModifyRules, DeviceAddressesEndingInZeroOrAllOnesAreNotUsable)
{
    EXPECT_FALSE(IsUsableDeviceAddress(0));
    EXPECT_FALSE(IsUsableDeviceAddress(0x0A010200));
    EXPECT_FALSE(IsUsableDeviceAddress(0x0A0102FF));
    EXPECT_TRUE(IsUsableDeviceAddress(0x0A010201));
    EXPECT_TRUE(IsUsableDeviceAddress(0x0A0102FE));
}

TEST(ModifyRules, GatewayIsCompletedAndComparedByTheFirstThreeOctets)
{
    EXPECT_EQ(DefaultGateway(0x0A010203), 0x0A010201u);            // 10.1.2.3 -> 10.1.2.1
    EXPECT_TRUE(SameSegment(0x0A0102FE, 0x0A010203));
    EXPECT_FALSE(SameSegment(0x0A010301, 0x0A010203));             // whatever the mask says
}

TEST(CredentialQuery, PathFollowsTheFirstMarkerInTheModel)
{
    EXPECT_EQ(CredentialQueryPath("IPCAMERA"), "/vb.htm?paratest=authority");
    EXPECT_EQ(CredentialQueryPath("NVR-IPCAMERA"), "/vb.htm?paratest=authority");
    EXPECT_EQ(CredentialQueryPath("NVR16"), "/vb.htm?getserialnum=");
    EXPECT_EQ(CredentialQueryPath("DVRNVR"), "/vb.htm?getserialnum=");
    EXPECT_EQ(CredentialQueryPath("HDDVR"), "/vb.htm?getlongsesn=");
    EXPECT_EQ(CredentialQueryPath("DECODER"), "");
    EXPECT_EQ(CredentialQueryPath("nvr"), "");
}

TEST(CredentialQuery, TokenIsBase64OfUserColonPasswordAndHasALimit)
{
    EXPECT_EQ(BasicToken("admin:"), "YWRtaW46");
    EXPECT_EQ(BasicToken("admin:admin"), "YWRtaW46YWRtaW4=");
    EXPECT_EQ(BasicToken(std::string("ab\0cd", 5)), "YWI="); // ends at the first NUL
    EXPECT_EQ(BasicToken(std::string(381, 'x'))->size(), 508u);
    EXPECT_FALSE(BasicToken(std::string(382, 'x')).has_value());
}

} // namespace
