// The library protocol's bytes: frame header checks as bytes arrive, every message's payload
// against byte strings written out here from the protocol note, the limits of each field, CRC-32
// and the percentages the caller sees.
#include "dvsnet/Protocol.h"
#include "tests/DvnpBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace dvsnet {
namespace {

using dvnp_bytes::Cat;
using dvnp_bytes::FrameBytes;
using dvnp_bytes::Text;

// ----- Frames -----

TEST(DvsnetFrame, DecodesAWholeFrameAndLeavesWhatFollows)
{
    Bytes stream = FrameBytes(12, {0x01, 0, 0, 0});
    const Bytes next = FrameBytes(13, {});
    stream.insert(stream.end(), next.begin(), next.end());

    const FrameView first = DecodeFrame(stream);
    ASSERT_EQ(first.status, FrameStatus::Complete);
    EXPECT_EQ(first.consumed, 16u);
    EXPECT_EQ(first.type, 12);
    EXPECT_EQ(Bytes(first.payload.begin(), first.payload.end()), (Bytes{0x01, 0, 0, 0}));

    const FrameView second = DecodeFrame(std::span(stream).subspan(first.consumed));
    ASSERT_EQ(second.status, FrameStatus::Complete);
    EXPECT_EQ(second.consumed, 12u);
    EXPECT_EQ(second.type, 13);
    EXPECT_TRUE(second.payload.empty());
}

TEST(DvsnetFrame, EveryPrefixOfAValidFrameIsIncomplete)
{
    for (const Bytes& frame : {FrameBytes(13, {}),
                               FrameBytes(6, Cat({Text("IPC"), Text("Gate"), Text("V1"),
                                             Bytes{4, 0, 0, 0, 0x9C, 0xFF, 0xFF, 0xFF}})),
                               FrameBytes(9, Bytes(kMaxPayload, 0x5A))}) {
        for (std::size_t length = 0; length < frame.size(); ++length) {
            const FrameView view = DecodeFrame(std::span(frame).first(length));
            ASSERT_EQ(view.status, FrameStatus::Incomplete)
                << "prefix of " << length << " of " << frame.size();
        }
        EXPECT_EQ(DecodeFrame(frame).status, FrameStatus::Complete);
    }
}

struct BadHeaderCase {
    const char* name;
    std::size_t offset; // the byte that spoils the header
    std::uint8_t value;
    FrameError error;
};

void PrintTo(const BadHeaderCase& c, std::ostream* os)
{
    *os << c.name;
}

class DvsnetBadHeader : public testing::TestWithParam<BadHeaderCase> {};

// Refused as soon as the spoiled byte has arrived, and the same with the whole frame there.
TEST_P(DvsnetBadHeader, IsAnErrorFromTheFirstWrongByte)
{
    Bytes frame = FrameBytes(13, {});
    frame[GetParam().offset] = GetParam().value;
    const std::size_t firstJudged =
        GetParam().error == FrameError::Length ? kHeaderSize : GetParam().offset + 1;
    for (std::size_t length = 0; length <= frame.size(); ++length) {
        const FrameView view = DecodeFrame(std::span(frame).first(length));
        if (length < firstJudged) {
            EXPECT_EQ(view.status, FrameStatus::Incomplete) << length;
        } else {
            EXPECT_EQ(view.status, FrameStatus::Error) << length;
            EXPECT_EQ(view.error, GetParam().error) << length;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DvsnetBadHeader,
    testing::Values(BadHeaderCase{"first magic byte", 0, 'd', FrameError::Magic},
                    BadHeaderCase{"last magic byte", 3, 'Q', FrameError::Magic},
                    BadHeaderCase{"HTTP instead", 0, 'G', FrameError::Magic},
                    BadHeaderCase{"version 0", 4, 0, FrameError::Version},
                    BadHeaderCase{"version 2", 4, 2, FrameError::Version},
                    BadHeaderCase{"reserved low byte", 6, 1, FrameError::Reserved},
                    BadHeaderCase{"reserved high byte", 7, 0x80, FrameError::Reserved},
                    BadHeaderCase{"length 2^24", 11, 1, FrameError::Length},
                    BadHeaderCase{"length 2^17", 10, 2, FrameError::Length}));

TEST(DvsnetFrame, LengthBoundIsInclusive)
{
    Bytes header = FrameBytes(9, {});
    header[10] = 1; // 65,536
    EXPECT_EQ(DecodeFrame(header).status, FrameStatus::Incomplete);
    header[8] = 1; // 65,537
    const FrameView view = DecodeFrame(header);
    EXPECT_EQ(view.status, FrameStatus::Error);
    EXPECT_EQ(view.error, FrameError::Length);
}

TEST(DvsnetFrame, UnknownTypesAreLeftToTheMessageLayer)
{
    const Bytes frame = FrameBytes(200, {1, 2});
    const FrameView view = DecodeFrame(frame);
    ASSERT_EQ(view.status, FrameStatus::Complete);
    EXPECT_EQ(view.type, 200);
    EXPECT_EQ(DecodeMessage(view.type, view.payload), std::nullopt);
    EXPECT_EQ(DecodeMessage(0, {}), std::nullopt);
    EXPECT_EQ(DecodeMessage(16, {}), std::nullopt);
}

// ----- Messages -----

struct MessageCase {
    const char* name;
    Message message;
    Bytes frame;
};

void PrintTo(const MessageCase& c, std::ostream* os)
{
    *os << c.name;
}

class DvsnetMessage : public testing::TestWithParam<MessageCase> {};

TEST_P(DvsnetMessage, EncodesToTheWrittenBytes)
{
    EXPECT_EQ(EncodeMessage(GetParam().message), GetParam().frame);
}

TEST_P(DvsnetMessage, DecodesFromTheWrittenBytes)
{
    const FrameView view = DecodeFrame(GetParam().frame);
    ASSERT_EQ(view.status, FrameStatus::Complete);
    EXPECT_EQ(view.consumed, GetParam().frame.size());
    EXPECT_EQ(DecodeMessage(view.type, view.payload), GetParam().message);
}

// A payload must be exactly as long as its message: one byte more or less is refused.
TEST_P(DvsnetMessage, RefusesAPayloadOneByteLongerOrShorter)
{
    // Data of any length from 1 to the bound is a payload of its own.
    if (TypeOf(GetParam().message) == MessageType::PackageData)
        return;
    const FrameView view = DecodeFrame(GetParam().frame);
    ASSERT_EQ(view.status, FrameStatus::Complete);
    Bytes longer(view.payload.begin(), view.payload.end());
    longer.push_back(0);
    EXPECT_EQ(DecodeMessage(view.type, longer), std::nullopt);
    if (!view.payload.empty()) {
        EXPECT_EQ(DecodeMessage(view.type, view.payload.first(view.payload.size() - 1)),
                  std::nullopt);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DvsnetMessage,
    testing::Values(
        MessageCase{"hello", Hello{"upgrade"}, FrameBytes(1, Text("upgrade"))},
        MessageCase{"hello without label", Hello{}, FrameBytes(1, {0})},
        MessageCase{"welcome", Welcome{16384}, FrameBytes(2, {0x00, 0x40, 0, 0})},
        MessageCase{"login", Login{"admin", "12345"},
                    FrameBytes(3, Cat({Text("admin"), Text("12345")}))},
        MessageCase{"login with empty password", Login{"admin", ""},
                    FrameBytes(3, Cat({Text("admin"), Bytes{0}}))},
        MessageCase{"login accepted", LoginResult{true}, FrameBytes(4, {0})},
        MessageCase{"login refused", LoginResult{false}, FrameBytes(4, {1})},
        MessageCase{"info request", InfoRequest{}, FrameBytes(5, {})},
        MessageCase{"info", Info{"NVR-8", "Hall", "2.1.0+V7", 8, -3},
                    FrameBytes(6, Cat({Text("NVR-8"), Text("Hall"), Text("2.1.0+V7"),
                                  Bytes{8, 0, 0, 0, 0xFD, 0xFF, 0xFF, 0xFF}}))},
        MessageCase{"package begin", PackageBegin{0x01020304, "V7_2.1_a.package"},
                    FrameBytes(7, Cat({Bytes{4, 3, 2, 1}, Text("V7_2.1_a.package")}))},
        MessageCase{"package ready", PackageReady{}, FrameBytes(8, {})},
        MessageCase{"package data", PackageData{{0, 0xFF, 7}}, FrameBytes(9, {0, 0xFF, 7})},
        MessageCase{"package end", PackageEnd{0xCBF43926}, FrameBytes(10, {0x26, 0x39, 0xF4, 0xCB})},
        MessageCase{"progress", Progress{100}, FrameBytes(11, {100, 0, 0, 0})},
        MessageCase{"result installed", Result{0}, FrameBytes(12, {0, 0, 0, 0})},
        MessageCase{"result device code", Result{-2}, FrameBytes(12, {0xFE, 0xFF, 0xFF, 0xFF})},
        MessageCase{"ping", Ping{}, FrameBytes(13, {})}, MessageCase{"pong", Pong{}, FrameBytes(14, {})},
        MessageCase{"close rebooting", Close{CloseReason::Rebooting}, FrameBytes(15, {5, 0, 0, 0})}));

TEST(DvsnetMessageLimits, TextsUpToTheirBoundPassAndOneMoreIsRefused)
{
    struct Field {
        const char* name;
        std::size_t bound;
        std::function<Message(const std::string&)> make;
    };
    const std::vector<Field> fields = {
        {"label", kMaxLabel, [](const std::string& t) { return Message(Hello{t}); }},
        {"user", kMaxCredential,
         [](const std::string& t) {
             return Message(Login{t, "x"});
         }},
        {"password", kMaxCredential,
         [](const std::string& t) {
             return Message(Login{"x", t});
         }},
        {"model", kMaxModel,
         [](const std::string& t) {
             return Message(Info{t, "", "", 1, 0});
         }},
        {"name", kMaxName,
         [](const std::string& t) {
             return Message(Info{"", t, "", 1, 0});
         }},
        {"firmware", kMaxFirmware,
         [](const std::string& t) {
             return Message(Info{"", "", t, 1, 0});
         }},
        {"package name", kMaxPackageName,
         [](const std::string& t) {
             return Message(PackageBegin{1, t});
         }},
    };
    for (const Field& field : fields) {
        SCOPED_TRACE(field.name);
        const Message longest = field.make(std::string(field.bound, 'a'));
        const auto encoded = EncodeMessage(longest);
        ASSERT_TRUE(encoded);
        const FrameView view = DecodeFrame(*encoded);
        EXPECT_EQ(DecodeMessage(view.type, view.payload), longest);

        EXPECT_EQ(EncodeMessage(field.make(std::string(field.bound + 1, 'a'))), std::nullopt);
        EXPECT_EQ(EncodeMessage(field.make(std::string("a\0b", 3))), std::nullopt);
    }
}

struct BadPayloadCase {
    const char* name;
    std::uint8_t type;
    Bytes payload;
};

void PrintTo(const BadPayloadCase& c, std::ostream* os)
{
    *os << c.name;
}

class DvsnetBadPayload : public testing::TestWithParam<BadPayloadCase> {};

TEST_P(DvsnetBadPayload, IsRefused)
{
    EXPECT_EQ(DecodeMessage(GetParam().type, GetParam().payload), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DvsnetBadPayload,
    testing::Values(BadPayloadCase{"hello label of 64", 1, Cat({Bytes{64}, Bytes(64, 'a')})},
                    BadPayloadCase{"hello with a zero byte", 1, {3, 'a', 0, 'b'}},
                    BadPayloadCase{"hello count past the end", 1, {5, 'a', 'b'}},
                    BadPayloadCase{"welcome limit 1023", 2, {0xFF, 0x03, 0, 0}},
                    BadPayloadCase{"welcome limit 65537", 2, {0x01, 0, 1, 0}},
                    BadPayloadCase{"login user of 40", 3,
                                   Cat({Bytes{40}, Bytes(40, 'u'), Bytes{0}})},
                    BadPayloadCase{"login without password", 3, Text("admin")},
                    BadPayloadCase{"login result 2", 4, {2}},
                    BadPayloadCase{"info request with a byte", 5, {0}},
                    BadPayloadCase{"info without type", 6,
                                   Cat({Text(""), Text(""), Text(""), Bytes{1, 0, 0, 0}})},
                    BadPayloadCase{"package data empty", 9, {}},
                    BadPayloadCase{"package data over the bound", 9, Bytes(kMaxPayload + 1, 1)},
                    BadPayloadCase{"progress 101", 11, {101, 0, 0, 0}},
                    BadPayloadCase{"progress 2^32 - 1", 11, {0xFF, 0xFF, 0xFF, 0xFF}},
                    BadPayloadCase{"close reason 7", 15, {7, 0, 0, 0}},
                    BadPayloadCase{"ping with a byte", 13, {0}}));

TEST(DvsnetMessageLimits, EncoderRefusesValuesOutsideTheirRange)
{
    EXPECT_EQ(EncodeMessage(Welcome{kMinChunkLimit - 1}), std::nullopt);
    EXPECT_EQ(EncodeMessage(Welcome{kMaxPayload + 1}), std::nullopt);
    EXPECT_TRUE(EncodeMessage(Welcome{kMinChunkLimit}));
    EXPECT_TRUE(EncodeMessage(Welcome{kMaxPayload}));
    EXPECT_EQ(EncodeMessage(Progress{101}), std::nullopt);
    EXPECT_EQ(EncodeMessage(PackageData{}), std::nullopt);
    EXPECT_EQ(EncodeMessage(PackageData{Bytes(kMaxPayload + 1, 0)}), std::nullopt);
    EXPECT_TRUE(EncodeMessage(PackageData{Bytes(kMaxPayload, 0)}));
    EXPECT_EQ(EncodeMessage(Close{static_cast<CloseReason>(kMaxCloseReason + 1)}), std::nullopt);
}

// ----- CRC-32 -----

TEST(DvsnetCrc32, MatchesTheKnownCheckValues)
{
    const std::string check = "123456789";
    EXPECT_EQ(Crc32Of({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}),
              0xCBF43926u);
    EXPECT_EQ(Crc32Of({}), 0u);
    const Bytes zeros(32, 0);
    EXPECT_EQ(Crc32Of(zeros), 0x190A55ADu);
}

TEST(DvsnetCrc32, GivesTheSameValueWhateverTheChunks)
{
    Bytes package(100000);
    for (std::size_t i = 0; i < package.size(); ++i)
        package[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
    const std::uint32_t whole = Crc32Of(package);
    for (std::size_t chunk : {1u, 7u, 1024u, 65536u}) {
        Crc32 crc;
        for (std::size_t at = 0; at < package.size(); at += chunk)
            crc.Update(std::span(package).subspan(at, std::min(chunk, package.size() - at)));
        EXPECT_EQ(crc.Value(), whole) << chunk;
    }
}

// ----- Percentages -----

TEST(DvsnetPercent, TransferRunsFrom0To90RoundedDown)
{
    EXPECT_EQ(TransferPercent(0, 1000), 0);
    EXPECT_EQ(TransferPercent(11, 1000), 0);
    EXPECT_EQ(TransferPercent(12, 1000), 1);
    EXPECT_EQ(TransferPercent(999, 1000), 89);
    EXPECT_EQ(TransferPercent(1000, 1000), 90);
    // The largest package: no overflow on the way.
    EXPECT_EQ(TransferPercent(0xFFFFFFFEu, 0xFFFFFFFFu), 89);
    EXPECT_EQ(TransferPercent(0, 0), 90);
}

TEST(DvsnetPercent, InstallRunsFrom90To99)
{
    EXPECT_EQ(InstallPercent(0), 90);
    EXPECT_EQ(InstallPercent(11), 90);
    EXPECT_EQ(InstallPercent(12), 91);
    EXPECT_EQ(InstallPercent(50), 94);
    EXPECT_EQ(InstallPercent(99), 98);
    EXPECT_EQ(InstallPercent(100), 99);
    EXPECT_EQ(InstallPercent(0xFFFFFFFFu), 99);
}

} // namespace
} // namespace dvsnet
