// The discovery datagrams byte for byte, and the row texts made from a reply.
#include "discovery/Datagrams.h"
#include "discovery/DeviceRow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace {

using Reply = std::array<std::uint8_t, kSearchReplySize>;

Reply ReplyHead()
{
    Reply reply{};
    std::memcpy(reply.data(), "searching..", 12);
    reply[12] = 1;
    return reply;
}

void Put(Reply& reply, std::size_t offset, const std::string& text)
{
    std::memcpy(reply.data() + offset, text.data(), text.size());
}

void PutBytes(Reply& reply, std::size_t offset, std::initializer_list<std::uint8_t> bytes)
{
    std::copy(bytes.begin(), bytes.end(), reply.begin() + static_cast<std::ptrdiff_t>(offset));
}

TEST(SearchRequest, CarriesSignatureKindAndSenderAddressOnly)
{
    std::array<std::uint8_t, kSearchRequestSize> request;
    request.fill(0xCC);
    BuildSearchRequest(request, 0x0A4D0001); // 10.77.0.1
    EXPECT_EQ(std::memcmp(request.data(), "searching..\0", 12), 0);
    EXPECT_EQ(request[12], 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(request.data() + 13)), "10.77.0.1");
    EXPECT_TRUE(std::all_of(request.begin() + 13 + 9, request.end(), [](auto b) { return b == 0; }));
}

TEST(SearchRequest, LongestAddressFillsFifteenCharactersAndTerminator)
{
    std::array<std::uint8_t, kSearchRequestSize> request{};
    BuildSearchRequest(request, 0xFFFFFFFF);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(request.data() + 13), 15),
              "255.255.255.255");
    EXPECT_EQ(request[28], 0);
}

TEST(SearchReply, IsRecognisedBySignatureAndKindOnly)
{
    Reply reply = ReplyHead();
    EXPECT_TRUE(IsSearchReply(reply));
    for (std::uint8_t kind : {0, 2, 3}) {
        Reply other = reply;
        other[12] = kind;
        EXPECT_FALSE(IsSearchReply(other)) << int(kind);
    }
    Reply noZero = reply;
    noZero[11] = '.';
    EXPECT_FALSE(IsSearchReply(noZero));
    Reply wrong = reply;
    wrong[0] = 'S';
    EXPECT_FALSE(IsSearchReply(wrong));
}

TEST(SearchReply, ReadsEveryFieldWithItsByteOrder)
{
    Reply reply = ReplyHead();
    Put(reply, 13, "IPCAMERA");
    PutBytes(reply, 23, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xFE});
    Put(reply, 30, "10.77.1.10");
    Put(reply, 46, "255.255.0.0");
    Put(reply, 62, "10.77.0.254");
    Put(reply, 78, "10.77.0.53");
    Put(reply, 94, "Lobby camera");
    Put(reply, 158, "4.1.46.5");
    PutBytes(reply, 224, {0x2C, 0x01, 0x00, 0x00});  // 300, little-endian
    PutBytes(reply, 228, {0x00, 0x00, 0x1F, 0x90});  // 8080, big-endian
    PutBytes(reply, 232, {0x00, 0x00, 0x02, 0x2A});  // 554
    PutBytes(reply, 236, {0x00, 0x00, 0x00, 0x50});  // 80
    reply[248] = 1;
    reply[249] = 16;

    const SearchReply fields = ReadSearchReply(reply);
    EXPECT_EQ(fields.model, "IPCAMERA");
    EXPECT_EQ(fields.mac, (MacAddress{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xFE}));
    EXPECT_EQ(fields.ipAddress, "10.77.1.10");
    EXPECT_EQ(fields.subnetMask, "255.255.0.0");
    EXPECT_EQ(fields.gateway, "10.77.0.254");
    EXPECT_EQ(fields.dns, "10.77.0.53");
    EXPECT_EQ(fields.deviceName, "Lobby camera");
    EXPECT_EQ(fields.firmwareVersion, "4.1.46.5");
    EXPECT_EQ(fields.deviceType, 300);
    EXPECT_EQ(fields.httpPort, 8080);
    EXPECT_EQ(fields.rtspPort, 554);
    EXPECT_EQ(fields.mobilePort, 80);
    EXPECT_EQ(fields.dhcpEnabled, 1);
    EXPECT_EQ(fields.channelCount, 16);

    PutBytes(reply, 224, {0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(ReadSearchReply(reply).deviceType, -1);
}

TEST(SearchReply, UnterminatedTextsStopOneByteBeforeTheirFieldEnds)
{
    Reply reply = ReplyHead();
    std::fill(reply.begin() + 13, reply.begin() + 222, std::uint8_t{'A'});
    const SearchReply fields = ReadSearchReply(reply);
    EXPECT_EQ(fields.model.size(), 9u);
    EXPECT_EQ(fields.ipAddress.size(), 15u);
    EXPECT_EQ(fields.subnetMask.size(), 15u);
    EXPECT_EQ(fields.gateway.size(), 15u);
    EXPECT_EQ(fields.dns.size(), 15u);
    EXPECT_EQ(fields.deviceName.size(), 63u);
    EXPECT_EQ(fields.firmwareVersion.size(), 63u);
}

TEST(ModifyRequest, PutsEveryFieldWhereDevicesReadIt)
{
    ModifySettings settings;
    settings.currentAddress = 0x0A4D010A;
    settings.ipAddress = 0x0A010203;
    settings.subnetMask = 0xFFFF0000;
    settings.gateway = 0x0A010201;
    settings.dns = 0x08080808;
    settings.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xFE};
    settings.httpPort = 80;
    settings.rtspPort = 554;
    settings.mobilePort = 8000;
    settings.dhcpEnabled = 0;
    std::array<std::uint8_t, kModifyRequestSize> request;
    request.fill(0xCC);
    BuildModifyRequest(request, settings);

    auto text = [&](std::size_t offset) {
        return std::string(reinterpret_cast<const char*>(request.data() + offset));
    };
    EXPECT_EQ(std::memcmp(request.data(), "searching..\0", 12), 0);
    EXPECT_EQ(request[12], 3);
    EXPECT_EQ(text(13), "10.77.1.10");
    EXPECT_EQ(text(29), "10.1.2.3");
    EXPECT_EQ(text(45), "255.255.0.0");
    EXPECT_EQ(text(61), "10.1.2.1");
    EXPECT_EQ(text(77), "8.8.8.8");
    const std::uint8_t mac[] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xFE};
    EXPECT_EQ(std::memcmp(request.data() + 93, mac, 6), 0);
    EXPECT_EQ(request[99], 0);
    const std::uint8_t ports[] = {0x50, 0, 0, 0, 0x2A, 0x02, 0, 0, 0x40, 0x1F, 0, 0};
    EXPECT_EQ(std::memcmp(request.data() + 100, ports, sizeof(ports)), 0);
    EXPECT_EQ(request[112], 0);
    EXPECT_TRUE(std::all_of(request.begin() + 113, request.end(), [](auto b) { return b == 0; }));
}

TEST(ModifyRequest, WithDhcpLeavesTheAddressTextsZero)
{
    ModifySettings settings;
    settings.currentAddress = 0x0A4D010A;
    settings.addressesGiven = false;
    settings.ipAddress = 0x0A010203;
    settings.dhcpEnabled = 1;
    std::array<std::uint8_t, kModifyRequestSize> request{};
    BuildModifyRequest(request, settings);
    EXPECT_TRUE(std::all_of(request.begin() + 29, request.begin() + 93, [](auto b) { return b == 0; }));
    EXPECT_EQ(request[112], 1);
}

TEST(MacText, RoundTripsAndStopsAtTheFirstUnreadableGroup)
{
    const MacAddress mac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xFE};
    EXPECT_EQ(MacText(mac), "00:1A:2B:3C:4D:FE");
    EXPECT_EQ(MacFromText("00:1A:2B:3C:4D:FE"), mac);
    EXPECT_EQ(MacFromText("0:1a:2b:3c:4d:fe"), mac);
    EXPECT_EQ(MacFromText("00:1A:zz:3C:4D:FE"), (MacAddress{0x00, 0x1A, 0, 0, 0, 0}));
    EXPECT_EQ(MacFromText("001A2B"), (MacAddress{0x00, 0, 0, 0, 0, 0}));
    EXPECT_EQ(MacFromText(""), MacAddress{});
}

TEST(DeviceRow, ListsTheFourDeviceKindsCaseSensitively)
{
    for (const char* model : {"IPCAMERA", "NVR", "DVR", "DECODER", "HDDVR16", "IPCAMERA-X"})
        EXPECT_TRUE(IsListedModel(model)) << model;
    for (const char* model : {"", "nvr", "ipcamera", "ENCODER", "Dvr"})
        EXPECT_FALSE(IsListedModel(model)) << model;
}

TEST(DeviceRow, FormatsTheFifteenColumns)
{
    SearchReply reply;
    reply.model = "NVR";
    reply.deviceName = "Parking NVR";
    reply.firmwareVersion = "4.1.9.5";
    reply.ipAddress = "10.77.2.1";
    reply.subnetMask = "255.255.0.0";
    reply.gateway = "10.77.0.1";
    reply.dns = "10.77.0.1";
    reply.mac = {0xAB, 0xCD, 0xEF, 0x01, 0x02, 0x03};
    reply.httpPort = 8080;
    reply.rtspPort = 554;
    reply.mobilePort = 8000;
    reply.channelCount = 32;
    reply.deviceType = -5;
    for (std::uint8_t dhcp : {0, 2}) {
        reply.dhcpEnabled = dhcp;
        EXPECT_EQ(DeviceRowTexts(reply, 3)[kColumnDhcp], "Close") << int(dhcp);
    }
    reply.dhcpEnabled = 1;
    const auto texts = DeviceRowTexts(reply, 3);
    const std::array<std::string, kDeviceColumnCount> expected = {
        "3",         "NVR",       "Parking NVR",       "4.1.9.5", "10.77.2.1",
        "255.255.0.0", "10.77.0.1", "10.77.0.1",       "AB:CD:EF:01:02:03", "8080",
        "554",       "8000",      "32",                "Open",    "-5"};
    EXPECT_EQ(texts, expected);
}

} // namespace
