#include "JsonLog.h"

#include <chrono>

namespace devsim {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

} // namespace

std::string JsonQuoted(std::string_view bytes)
{
    std::string quoted = "\"";
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            quoted += "\\u00";
            quoted += kHexDigits[byte >> 4];
            quoted += kHexDigits[byte & 0xF];
        } else {
            quoted += c;
        }
    }
    quoted += '"';
    return quoted;
}

std::string HexBytes(std::span<const std::uint8_t> bytes)
{
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        hex += kHexDigits[byte >> 4];
        hex += kHexDigits[byte & 0xF];
    }
    return hex;
}

JsonLine::JsonLine(std::string_view event) : m_body("{\"event\":" + JsonQuoted(event)) {}

JsonLine& JsonLine::Text(std::string_view key, std::string_view value)
{
    return Raw(key, JsonQuoted(value));
}

JsonLine& JsonLine::Number(std::string_view key, long long value)
{
    return Raw(key, std::to_string(value));
}

JsonLine& JsonLine::Raw(std::string_view key, std::string_view value)
{
    m_body += ',';
    m_body += JsonQuoted(key);
    m_body += ':';
    m_body += value;
    return *this;
}

bool JsonLog::Open(const std::string& path)
{
    // "e": close-on-exec, so the ip(8) runs that move the interface address do not inherit it.
    m_file.reset(std::fopen(path.c_str(), "ae"));
    return m_file != nullptr;
}

void JsonLog::Write(const JsonLine& line)
{
    if (!m_file)
        return;
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    const std::string text = line.Body() + ",\"time_ms\":" + std::to_string(now.count()) + "}\n";
    std::fwrite(text.data(), 1, text.size(), m_file.get());
    std::fflush(m_file.get());
}

} // namespace devsim
