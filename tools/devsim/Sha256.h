// SHA-256 (FIPS 180-4) of an upgrade package as it streams in, so the log can say which bytes
// arrived without the simulator keeping the package.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace devsim {

class Sha256 {
public:
    Sha256();
    void Update(std::span<const std::uint8_t> bytes);
    // Lower-case hex of the digest; the object is spent afterwards.
    std::string FinishHex();

private:
    void Compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> m_state;
    std::array<std::uint8_t, 64> m_block{};
    std::size_t m_blockUsed = 0;
    std::uint64_t m_length = 0; // in bytes
};

} // namespace devsim
