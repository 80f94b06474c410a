#include "UpgradeProtocol.h"

#include <gtest/gtest.h>

#include <vector>

namespace devsim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::string_view kCommand = "CMD:UPGRADE MCTP/1.0 CS\n@1300@\nEND\n";

std::span<const std::uint8_t> AsBytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(UpgradeProtocol, FirstBytesTellTheCommandFromHttp)
{
    struct Case {
        std::string_view received;
        StreamKind kind;
    };
    const Case cases[] = {
        {"", StreamKind::Undecided},           {"C", StreamKind::Undecided},
        {"CMD:UPGRAD", StreamKind::Undecided}, {"CMD:UPGRADE", StreamKind::Upgrade},
        {kCommand, StreamKind::Upgrade},       {"G", StreamKind::Http},
        {"GET /vb.htm", StreamKind::Http},     {"CMD:STATUS", StreamKind::Http},
        {"cmd:upgrade", StreamKind::Http},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClassifyStream(c.received), c.kind) << c.received;
}

TEST(UpgradeProtocol, EveryPrefixOfTheCommandIsIncomplete)
{
    for (std::size_t length = 0; length < kCommand.size(); ++length)
        EXPECT_EQ(ParseUpgradeCommand(kCommand.substr(0, length)).state,
                  UpgradeCommand::State::Incomplete)
            << length;
}

TEST(UpgradeProtocol, CommandGivesTheSizeAndWhatItTakes)
{
    struct Case {
        std::string received;
        std::uint32_t size;
        std::size_t consumed;
    };
    const Case cases[] = {
        {std::string(kCommand), 1300, kCommand.size()},
        // Package bytes already behind it stay unconsumed.
        {std::string(kCommand) + "\x01\x02\x03", 1300, kCommand.size()},
        {"CMD:UPGRADE MCTP/1.0 CS\n@0@\nEND\n", 0, 32},
        {"CMD:UPGRADE MCTP/1.0 CS\n@4294967295@\nEND\n", 4294967295u, 41},
        {"CMD:UPGRADE MCTP/1.0 CS\n@007@\nEND\n", 7, 34},
    };
    for (const Case& c : cases) {
        const UpgradeCommand command = ParseUpgradeCommand(c.received);
        ASSERT_EQ(command.state, UpgradeCommand::State::Complete) << c.received << command.error;
        EXPECT_EQ(command.size, c.size) << c.received;
        EXPECT_EQ(command.consumed, c.consumed) << c.received;
    }
}

TEST(UpgradeProtocol, MalformedCommandsAreErrors)
{
    const std::string cases[] = {
        "CMD:UPGRADE MCTP/1.0 CS\r\n@1300@\r\nEND\r\n",
        "CMD:UPGRADE MCTP/1.1 CS\n@1300@\nEND\n",
        "CMD:UPGRADE MCTP/1.0 CS\n@@\nEND\n",
        "CMD:UPGRADE MCTP/1.0 CS\n1300\nEND\n",
        "CMD:UPGRADE MCTP/1.0 CS\n@1300\nEND\n",
        "CMD:UPGRADE MCTP/1.0 CS\n@-1@\nEND\n",
        "CMD:UPGRADE MCTP/1.0 CS\n@13 00@\nEND\n",
        "CMD:UPGRADE MCTP/1.0 CS\n@4294967296@\nEND\n",
        "CMD:UPGRADE MCTP/1.0 CS\n@1300@\nEND.\n",
        "CMD:UPGRADE MCTP/1.0 CS" + std::string(kMaxUpgradeCommand, ' '),
    };
    for (const std::string& received : cases) {
        const UpgradeCommand command = ParseUpgradeCommand(received);
        EXPECT_EQ(command.state, UpgradeCommand::State::Error) << received;
        EXPECT_NE(command.error, "") << received;
    }
}

TEST(UpgradeProtocol, OnlyTypes200To299SendTheSizeField)
{
    const std::pair<std::int32_t, bool> cases[] = {
        {-1, false}, {0, false},  {150, false}, {199, false}, {200, true},
        {255, true}, {299, true}, {300, false}, {310, false},
    };
    for (const auto& [type, sends] : cases)
        EXPECT_EQ(SendsSizeField(type), sends) << type;
}

TEST(UpgradeProtocol, FinalAnswers)
{
    DeviceSettings settings;
    EXPECT_EQ(FinalAnswer(settings), "@0@");
    settings.upgradeResult = 7;
    EXPECT_EQ(FinalAnswer(settings), "@7@");
    settings.upgradeFinal = UpgradeFinal::Garbage;
    const auto garbage = FinalAnswer(settings);
    ASSERT_TRUE(garbage);
    EXPECT_EQ(garbage->find('@'), std::string::npos);
    settings.upgradeFinal = UpgradeFinal::Half;
    EXPECT_EQ(FinalAnswer(settings), "@7");
    settings.upgradeFinal = UpgradeFinal::None;
    EXPECT_FALSE(FinalAnswer(settings));
}

Bytes Package(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 31 + 5);
    return bytes;
}

// Fed in pieces of every size from 1 byte up, as the tool's 1280-byte sends may arrive.
TEST(UpgradeProtocol, ReceiverTakesBothFramingsInAnyPieces)
{
    const Bytes package = Package(3000);
    Sha256 whole;
    whole.Update(package);
    const std::string digest = whole.FinishHex();

    for (const bool sizeField : {false, true}) {
        Bytes stream;
        if (sizeField)
            stream = {0xB8, 0x0B, 0x00, 0x00}; // 3000, least significant byte first
        stream.insert(stream.end(), package.begin(), package.end());
        stream.insert(stream.end(), {'x', 'y'}); // after the package

        for (const std::size_t piece :
             {std::size_t{1}, std::size_t{3}, std::size_t{1280}, stream.size()}) {
            UpgradeReceiver receiver(3000, sizeField);
            std::optional<std::uint32_t> sizeSeen;
            int completions = 0;
            for (std::size_t offset = 0; offset < stream.size(); offset += piece) {
                const auto progress = receiver.Feed(
                    std::span(stream).subspan(offset, std::min(piece, stream.size() - offset)));
                if (progress.sizeField) {
                    EXPECT_FALSE(sizeSeen);
                    sizeSeen = progress.sizeField;
                }
                completions += progress.packageComplete ? 1 : 0;
            }
            const std::string what = (sizeField ? "size field, " : "no size field, ") +
                                     std::to_string(piece) + "-byte pieces";
            EXPECT_EQ(sizeSeen, sizeField ? std::optional<std::uint32_t>(3000) : std::nullopt)
                << what;
            EXPECT_EQ(completions, 1) << what;
            EXPECT_EQ(receiver.CurrentPhase(), UpgradeReceiver::Phase::Done) << what;
            EXPECT_EQ(receiver.PackageReceived(), 3000u) << what;
            EXPECT_EQ(receiver.ExtraReceived(), 2u) << what;
            EXPECT_EQ(receiver.PackageSha256(), digest) << what;
        }
    }
}

TEST(UpgradeProtocol, ReceiverWaitsForTheWholePackage)
{
    UpgradeReceiver receiver(10, true);
    EXPECT_FALSE(receiver.Feed(AsBytes(std::string_view("\x09\x00", 2))).sizeField);
    EXPECT_EQ(receiver.CurrentPhase(), UpgradeReceiver::Phase::SizeField);
    // A size field that disagrees with the command is reported; the command's size counts.
    const auto progress = receiver.Feed(AsBytes(std::string_view("\x00\x00\x01", 3)));
    EXPECT_EQ(progress.sizeField, 9u);
    EXPECT_FALSE(progress.packageComplete);
    EXPECT_EQ(receiver.CurrentPhase(), UpgradeReceiver::Phase::Package);
    EXPECT_EQ(receiver.PackageReceived(), 1u);
    EXPECT_FALSE(receiver.Feed(AsBytes("12345678")).packageComplete);
    EXPECT_TRUE(receiver.Feed(AsBytes("9")).packageComplete);
}

TEST(UpgradeProtocol, EmptyPackageIsCompleteAtOnce)
{
    UpgradeReceiver plain(0, false);
    EXPECT_TRUE(plain.Feed({}).packageComplete);
    EXPECT_EQ(plain.PackageSha256(),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

    UpgradeReceiver withSize(0, true);
    EXPECT_FALSE(withSize.Feed({}).packageComplete);
    const auto progress = withSize.Feed(AsBytes(std::string_view("\0\0\0\0", 4)));
    EXPECT_EQ(progress.sizeField, 0u);
    EXPECT_TRUE(progress.packageComplete);
}

} // namespace
} // namespace devsim
