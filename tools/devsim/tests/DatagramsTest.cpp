#include "Datagrams.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace devsim {
namespace {

// Expected bytes are written here by hand from the byte tables, never through the codec.
template <std::size_t N>
void Put(std::array<std::uint8_t, N>& bytes, std::size_t offset,
         std::initializer_list<std::uint8_t> values)
{
    std::copy(values.begin(), values.end(), bytes.begin() + offset);
}

template <std::size_t N>
void PutText(std::array<std::uint8_t, N>& bytes, std::size_t offset, const char* text)
{
    std::memcpy(bytes.data() + offset, text, std::strlen(text));
}

template <std::size_t N> void PutHead(std::array<std::uint8_t, N>& bytes, std::uint8_t kind)
{
    PutText(bytes, 0, "searching..");
    bytes[11] = 0;
    bytes[12] = kind;
}

// Lists every differing offset, so a shifted field shows where it went.
template <std::size_t N>
std::string Differences(const std::array<std::uint8_t, N>& actual,
                        const std::array<std::uint8_t, N>& expected)
{
    std::string report;
    for (std::size_t i = 0; i < N; ++i)
        if (actual[i] != expected[i])
            report += " @" + std::to_string(i) + ": " + std::to_string(actual[i]) + " expected " +
                      std::to_string(expected[i]) + ";";
    return report;
}

DeviceSettings SampleDevice()
{
    DeviceSettings device;
    device.model = "IPCAMERA";
    device.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    device.ip = "10.77.0.21";
    device.mask = "255.255.0.0";
    device.gateway = "10.77.0.1";
    device.dns = "10.77.0.254";
    device.name = "Lobby";
    device.firmware = "4.1.46.5";
    device.type = 0x11223344;
    device.httpPort = 80;
    device.rtspPort = 554;
    device.mobilePort = 8000;
    device.dhcp = 2;
    device.channels = 16;
    return device;
}

TEST(SearchReply, FollowsTheByteTable)
{
    std::array<std::uint8_t, 316> expected{};
    PutHead(expected, 1);
    PutText(expected, 13, "IPCAMERA");
    Put(expected, 23, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
    PutText(expected, 30, "10.77.0.21");
    PutText(expected, 46, "255.255.0.0");
    PutText(expected, 62, "10.77.0.1");
    PutText(expected, 78, "10.77.0.254");
    PutText(expected, 94, "Lobby");
    PutText(expected, 158, "4.1.46.5");
    Put(expected, 224, {0x44, 0x33, 0x22, 0x11}); // type, little-endian
    Put(expected, 228, {0x00, 0x00, 0x00, 0x50}); // ports, big-endian
    Put(expected, 232, {0x00, 0x00, 0x02, 0x2A});
    Put(expected, 236, {0x00, 0x00, 0x1F, 0x40});
    expected[248] = 2;
    expected[249] = 16;

    const SearchReply reply = BuildSearchReply(SampleDevice());
    EXPECT_EQ(reply, expected) << Differences(reply, expected);
}

TEST(SearchReply, NegativeNumbersAreTwosComplement)
{
    DeviceSettings device = SampleDevice();
    device.type = -2;
    device.httpPort = -1;
    device.mobilePort = 70000; // out of port range, but the field is 32 bits wide
    const SearchReply reply = BuildSearchReply(device);
    EXPECT_EQ((std::vector<std::uint8_t>(reply.begin() + 224, reply.begin() + 232)),
              (std::vector<std::uint8_t>{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ((std::vector<std::uint8_t>(reply.begin() + 236, reply.begin() + 240)),
              (std::vector<std::uint8_t>{0x00, 0x01, 0x11, 0x70}));
}

TEST(SearchReply, TextsAreCutToFieldWidthMinusOne)
{
    struct Case {
        std::string DeviceSettings::*field;
        std::size_t offset;
        std::size_t width;
    };
    const Case cases[] = {
        {&DeviceSettings::model, 13, 10},     {&DeviceSettings::ip, 30, 16},
        {&DeviceSettings::mask, 46, 16},      {&DeviceSettings::gateway, 62, 16},
        {&DeviceSettings::dns, 78, 16},       {&DeviceSettings::name, 94, 64},
        {&DeviceSettings::firmware, 158, 64},
    };
    for (const Case& c : cases) {
        for (std::size_t length : {c.width - 1, c.width, c.width + 20}) {
            DeviceSettings device = SampleDevice();
            device.*(c.field) = std::string(length, 'x');
            const SearchReply reply = BuildSearchReply(device);
            const SearchReply untouched = BuildSearchReply(SampleDevice());
            const std::string where =
                "field at " + std::to_string(c.offset) + ", text of " + std::to_string(length);
            for (std::size_t i = 0; i < c.width - 1; ++i)
                ASSERT_EQ(reply[c.offset + i], 'x') << where << ", byte " << i;
            EXPECT_EQ(reply[c.offset + c.width - 1], 0) << where;
            // Nothing spills into the next field.
            EXPECT_TRUE(std::equal(reply.begin() + c.offset + c.width, reply.end(),
                                   untouched.begin() + c.offset + c.width))
                << where;
        }
    }
}

TEST(SearchReply, ShortTextIsZeroFilled)
{
    DeviceSettings device = SampleDevice();
    device.name = std::string(63, 'y');
    const SearchReply longName = BuildSearchReply(device);
    device.name = std::string(1, 'A'); // not = "A": GCC 12 -O2 warns falsely (-Wrestrict)
    const SearchReply shortName = BuildSearchReply(device);
    EXPECT_EQ(shortName[94], 'A');
    for (std::size_t i = 95; i < 158; ++i)
        ASSERT_EQ(shortName[i], 0) << i;
    EXPECT_EQ(longName[156], 'y');
}

TEST(SearchReply, RawModelFillsAllTenBytes)
{
    DeviceSettings device = SampleDevice();
    device.rawModel =
        std::array<std::uint8_t, 10>{'N', 'V', 'R', '1', '2', '3', '4', '5', '6', '7'};
    const SearchReply reply = BuildSearchReply(device);
    EXPECT_EQ(std::string(reply.begin() + 13, reply.begin() + 23), "NVR1234567");
    EXPECT_EQ(reply[23], 0x00); // the MAC starts right after, no terminator between
    EXPECT_EQ(reply[24], 0x1A);
}

TEST(DatagramHead, NeedsTheExactSignature)
{
    struct Case {
        std::vector<std::uint8_t> bytes;
        HeadCheck expected;
    };
    const std::vector<std::uint8_t> good = {'s', 'e', 'a', 'r', 'c', 'h', 'i',
                                            'n', 'g', '.', '.', 0,   2};
    auto changed = [&](std::size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> bytes = good;
        bytes[at] = value;
        return bytes;
    };
    const Case cases[] = {
        {good, HeadCheck::Ok},
        {changed(12, 0xFF), HeadCheck::Ok}, // kind is judged by the caller
        {changed(11, '.'), HeadCheck::BadSignature},
        {changed(0, 'S'), HeadCheck::BadSignature},
        {std::vector<std::uint8_t>(good.begin(), good.end() - 1), HeadCheck::TooShort},
        {{}, HeadCheck::TooShort},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(CheckHead(cases[i].bytes), cases[i].expected) << "case " << i;
}

TEST(SearchRequest, SenderAddressIsReadUpToItsZero)
{
    std::array<std::uint8_t, 180> request{};
    PutHead(request, 2);
    PutText(request, 13, "255.255.255.255");
    EXPECT_EQ(SearchSenderAddress(request), "255.255.255.255");

    // No terminator at all: the log shows all 16 bytes, so a missing one is visible.
    PutText(request, 13, "1234567890123456");
    EXPECT_EQ(SearchSenderAddress(request), "1234567890123456");

    // A datagram cut inside the field yields what is there.
    EXPECT_EQ(SearchSenderAddress(std::span(request.data(), 17)), "1234");
    EXPECT_EQ(SearchSenderAddress(std::span(request.data(), 13)), "");
}

TEST(ModifyRequest, FieldsComeFromTheByteTable)
{
    std::array<std::uint8_t, 180> bytes{};
    PutHead(bytes, 3);
    PutText(bytes, 13, "255.255.255.255");
    PutText(bytes, 29, "10.77.1.2");
    PutText(bytes, 45, "255.255.255.0");
    PutText(bytes, 61, "10.77.1.1");
    PutText(bytes, 77, "10.77.1.254");
    Put(bytes, 93, {0xAA, 0xBB, 0xCC, 0x01, 0x02, 0x03});
    Put(bytes, 100, {0x50, 0x00, 0x00, 0x00}); // ports, little-endian
    Put(bytes, 104, {0x90, 0x1F, 0x00, 0x00});
    Put(bytes, 108, {0xFF, 0xFF, 0xFF, 0xFF});
    bytes[112] = 1;
    // Reserved bytes are not part of any field.
    bytes[99] = 0x77;
    bytes[113] = 0x77;

    const ModifyRequest request = ParseModifyRequest(bytes);
    EXPECT_EQ(request.currentAddress, "255.255.255.255");
    EXPECT_EQ(request.ipAddress, "10.77.1.2");
    EXPECT_EQ(request.subnetMask, "255.255.255.0");
    EXPECT_EQ(request.gateway, "10.77.1.1");
    EXPECT_EQ(request.dns, "10.77.1.254");
    EXPECT_EQ(request.mac, (MacAddress{0xAA, 0xBB, 0xCC, 0x01, 0x02, 0x03}));
    EXPECT_EQ(request.httpPort, 80);
    EXPECT_EQ(request.rtspPort, 8080);
    EXPECT_EQ(request.mobilePort, -1);
    EXPECT_EQ(request.dhcpEnabled, 1);
}

TEST(ModifyRequest, ZeroAddressFieldsReadEmpty)
{
    std::array<std::uint8_t, 180> bytes{};
    PutHead(bytes, 3);
    PutText(bytes, 13, "10.77.0.21");
    bytes[112] = 1;
    const ModifyRequest request = ParseModifyRequest(bytes);
    EXPECT_EQ(request.currentAddress, "10.77.0.21");
    EXPECT_EQ(request.ipAddress, "");
    EXPECT_EQ(request.subnetMask, "");
    EXPECT_EQ(request.gateway, "");
    EXPECT_EQ(request.dns, "");
}

} // namespace
} // namespace devsim
