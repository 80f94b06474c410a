// The device's side of the library protocol as bytes: the frame header judged as it arrives,
// the client's payloads, CRC-32 and the installation's steps.
#include "LibraryProtocol.h"

#include <gtest/gtest.h>

namespace devsim {
namespace {

std::string Frame(std::uint8_t type, const std::string& payload = "")
{
    const auto length = static_cast<std::uint32_t>(payload.size());
    std::string frame("DVNP\x01", 5);
    frame += static_cast<char>(type);
    frame += std::string(2, '\0');
    for (int i = 0; i < 4; ++i)
        frame += static_cast<char>(length >> (8 * i) & 0xFF);
    return frame + payload;
}

TEST(LibraryProtocol, FrameHeaderIsJudgedAsItArrives)
{
    const std::string frame = Frame(9, "abc");
    for (std::size_t length = 0; length < frame.size(); ++length)
        EXPECT_EQ(ParseLibraryFrame(std::string_view(frame).substr(0, length)).state,
                  LibraryFrameParse::State::Incomplete)
            << length;
    const std::string stream = frame + "next";
    const LibraryFrameParse whole = ParseLibraryFrame(stream);
    ASSERT_EQ(whole.state, LibraryFrameParse::State::Frame);
    EXPECT_EQ(whole.consumed, frame.size());
    EXPECT_EQ(whole.type, 9);
    EXPECT_EQ(whole.payload, "abc");
    EXPECT_EQ(ParseLibraryFrame("DX").state, LibraryFrameParse::State::BadFrame);
    EXPECT_EQ(ParseLibraryFrame(std::string("DVNP\x02", 5)).state,
              LibraryFrameParse::State::BadVersion);
}

TEST(LibraryProtocol, Crc32AndInstallPlan)
{
    LibraryCrc32 crc;
    crc.Update("1234");
    crc.Update("56789");
    EXPECT_EQ(crc.Value(), 0xCBF43926u);
    EXPECT_EQ(Crc32Hex(0x0A0B0C0D), "0a0b0c0d");

    const InstallPlan quick = PlanInstall(100, 0);
    EXPECT_EQ(quick.intervalMs, 10u);
    EXPECT_EQ(quick.percents,
              (std::vector<std::uint32_t>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
    // Long installations report at least every 2 s.
    const InstallPlan slow = PlanInstall(60000, 0);
    EXPECT_EQ(slow.percents.size(), 31u);
    EXPECT_EQ(slow.intervalMs, 2000u);
    EXPECT_EQ(slow.percents.back(), 100u);
    EXPECT_EQ(PlanInstall(0, 0).intervalMs, 0u);
    EXPECT_EQ(PlanInstall(100, 4).percents.back(), 50u);
}

TEST(LibraryProtocol, ClientPayloadsMustBeExact)
{
    const auto login = ParseLibraryLogin(std::string("\x05"
                                                     "admin"
                                                     "\x00",
                                                     7));
    ASSERT_TRUE(login);
    EXPECT_EQ(login->user, "admin");
    EXPECT_EQ(login->password, "");
    EXPECT_FALSE(ParseLibraryLogin(std::string("\x05"
                                               "admin",
                                               6)));
    EXPECT_FALSE(ParseLibraryLogin(std::string("\x05"
                                               "admin"
                                               "\x00"
                                               "x",
                                               8)));
    EXPECT_FALSE(ParseLibraryLogin(std::string("\x28") + std::string(40, 'u') + '\0'));
    EXPECT_FALSE(ParseHelloLabel(std::string("\x03"
                                             "a\0b",
                                             4)));

    const auto begin = ParseLibraryPackageBegin(std::string("\x04\x03\x02\x01\x01"
                                                            "a",
                                                            6));
    ASSERT_TRUE(begin);
    EXPECT_EQ(begin->size, 0x01020304u);
    EXPECT_EQ(begin->name, "a");
    EXPECT_EQ(ParseLibraryU32(std::string("\x26\x39\xF4\xCB", 4)), 0xCBF43926u);
    EXPECT_FALSE(ParseLibraryU32("abc"));
}

} // namespace
} // namespace devsim
