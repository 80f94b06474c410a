// How device URLs split into scheme, host, port and path, quirks included.
#include "http/Url.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

struct UrlCase {
    std::string url;
    std::string scheme;
    std::string host;
    std::int32_t port;
    std::string path;
};

void PrintTo(const UrlCase& c, std::ostream* os)
{
    *os << '"' << c.url.substr(0, 80) << '"';
}

class UrlSplitting : public testing::TestWithParam<UrlCase> {};

TEST_P(UrlSplitting, GivesSchemeHostPortAndPath)
{
    const UrlCase& c = GetParam();
    const UrlParts parts = ParseUrl(c.url);
    EXPECT_EQ(parts.scheme, c.scheme);
    EXPECT_EQ(parts.host, c.host);
    EXPECT_EQ(parts.port, c.port);
    EXPECT_EQ(parts.path, c.path);
}

constexpr std::int32_t kMaxInt = std::numeric_limits<std::int32_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Cases, UrlSplitting,
    testing::Values(
        // What the credential check builds.
        UrlCase{"http://10.77.1.10:8080/vb.htm?paratest=authority", "HTTP", "10.77.1.10", 8080,
                "/vb.htm?paratest=authority"},
        UrlCase{"http://10.77.1.10:80/vb.htm?getserialnum=", "HTTP", "10.77.1.10", 80,
                "/vb.htm?getserialnum="},
        // Scheme and host are upper-cased, the path keeps its case.
        UrlCase{"HTTP://10.0.0.1/X", "HTTP", "10.0.0.1", 80, "/X"},
        UrlCase{"Http://camera-2.site.local/Vb.htm?Name=Lobby", "HTTP", "CAMERA-2.SITE.LOCAL", 80,
                "/Vb.htm?Name=Lobby"},
        UrlCase{"https://10.0.0.1/", "HTTPS", "10.0.0.1", 80, "/"},
        UrlCase{"ftp://host/file", "FTP", "HOST", 80, "/file"},
        // No path; a query straight after the host.
        UrlCase{"http://10.0.0.1", "HTTP", "10.0.0.1", 80, ""},
        UrlCase{"http://10.0.0.1:8080", "HTTP", "10.0.0.1", 8080, ""},
        UrlCase{"http://10.0.0.1?a=b", "HTTP", "10.0.0.1", 80, "?a=b"},
        // The port text is read as atoi reads it.
        UrlCase{"http://10.0.0.1:/x", "HTTP", "10.0.0.1", 0, "/x"},
        UrlCase{"http://10.0.0.1:", "HTTP", "10.0.0.1", 0, ""},
        UrlCase{"http://h:8a/x", "HTTP", "H", 8, "/x"},
        UrlCase{"http://h:80:90/x", "HTTP", "H", 80, "/x"},
        UrlCase{"http://h:-5/x", "HTTP", "H", -5, "/x"},
        UrlCase{"http://h:0008080/x", "HTTP", "H", 8080, "/x"},
        UrlCase{"http://h:99999999999/x", "HTTP", "H", kMaxInt, "/x"},
        // The first colon ends the scheme, so a URL with a port but no scheme keeps its address
        // as the scheme.
        UrlCase{"10.0.0.1:8080/vb.htm", "10.0.0.1", "8080", 80, "/vb.htm"},
        UrlCase{"10.0.0.1/vb.htm", "HTTP", "10.0.0.1", 80, "/vb.htm"},
        UrlCase{"/vb.htm?a=b:c", "/VB.HTM?A=B", "C", 80, ""},
        // Only two slashes together are skipped.
        UrlCase{"http:/10.0.0.1/x", "HTTP", "", 80, "/10.0.0.1/x"},
        UrlCase{"http:10.0.0.1/x", "HTTP", "10.0.0.1", 80, "/x"},
        UrlCase{"http:///x", "HTTP", "", 80, "/x"},
        // The host ends at the first character outside letters, digits, '-', '.' and ':'.
        UrlCase{"http://user@host/x", "HTTP", "USER", 80, "@host/x"},
        UrlCase{"http://a_b/x", "HTTP", "A", 80, "_b/x"},
        UrlCase{"http://caf\xc3\xa9/x", "HTTP", "CAF", 80, "\xc3\xa9/x"},
        UrlCase{"http://h/\xc3\xa9t\xc3\xa9", "HTTP", "H", 80, "/\xc3\xa9t\xc3\xa9"},
        UrlCase{"", "HTTP", "", 80, ""}));

TEST(UrlSplitting, CutsLongPartsToTheirBuffers)
{
    const std::string scheme(25, 's');
    const UrlParts longScheme = ParseUrl(scheme + "://h/x");
    EXPECT_EQ(longScheme.scheme, std::string(kMaxSchemeLength, 'S'));
    EXPECT_EQ(longScheme.host, "H");

    const std::string host(3000, 'a');
    const UrlParts longHost = ParseUrl("http://" + host + "/x");
    EXPECT_EQ(longHost.host, std::string(kMaxHostLength, 'A'));
    EXPECT_EQ(longHost.path, "/x"); // the path still starts after the whole host run

    // The host is cut before the port is looked for, so a port past the cut is lost.
    const UrlParts portPastCut = ParseUrl("http://" + std::string(kMaxHostLength, 'a') + ":81/");
    EXPECT_EQ(portPastCut.port, 80);
    const UrlParts portAtCut = ParseUrl("http://" + std::string(kMaxHostLength - 3, 'a') + ":81/");
    EXPECT_EQ(portAtCut.port, 81);

    const std::string path = "/" + std::string(3000, 'p');
    EXPECT_EQ(ParseUrl("http://h" + path).path, path.substr(0, kMaxPathLength));
}

} // namespace
