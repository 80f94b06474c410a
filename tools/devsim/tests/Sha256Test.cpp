#include "Sha256.h"

#include <gtest/gtest.h>

#include <vector>

namespace devsim {
namespace {

std::string Digest(const std::string& text)
{
    Sha256 hash;
    hash.Update(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    return hash.FinishHex();
}

TEST(Sha256, KnownDigests)
{
    struct Case {
        std::string text;
        const char* digest;
    };
    // Lengths around the padding limits: 55 bytes still fit the length in the last block, 56
    // need another one.
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
        {std::string(56, 'x'), "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e"},
        {std::string(63, 'x'), "75220b47218278e656f2013bb8f0c455a25eaf01e86c64924e9d48d89776d6f2"},
        {std::string(64, 'x'), "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Digest(c.text), c.digest) << c.text.size() << " bytes";
}

TEST(Sha256, PiecesOfAnySizeGiveTheSameDigest)
{
    std::vector<std::uint8_t> bytes(100000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 % 251);
    for (std::size_t piece : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{1280},
                              std::size_t{65537}}) {
        Sha256 hash;
        for (std::size_t offset = 0; offset < bytes.size(); offset += piece)
            hash.Update(std::span(bytes).subspan(offset, std::min(piece, bytes.size() - offset)));
        EXPECT_EQ(hash.FinishHex(),
                  "96ad0ddabe9c733d4550fde750255a94806811029be67504bd9bd68e556686b9")
            << piece;
    }
}

} // namespace
} // namespace devsim
