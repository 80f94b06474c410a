// The request log: one JSON object a line, flushed line by line, so that a test can read what
// the tool sent while the simulator keeps running.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace devsim {

// A JSON string literal. Texts from the wire are ANSI bytes, not UTF-8, so every byte outside
// printable ASCII is written as \u00XX: the line stays valid UTF-8 and each byte maps back to
// one code point below 256.
std::string JsonQuoted(std::string_view bytes);

// Lower-case hex digits, two a byte, nothing between them.
std::string HexBytes(std::span<const std::uint8_t> bytes);

// One log object, built field by field in the order the fields are added.
class JsonLine {
public:
    explicit JsonLine(std::string_view event);

    JsonLine& Text(std::string_view key, std::string_view value);
    JsonLine& Number(std::string_view key, long long value);
    // value must already be JSON (an object or array built by the caller).
    JsonLine& Raw(std::string_view key, std::string_view value);

    // The object without the closing brace, so the log can add its time stamp last.
    const std::string& Body() const { return m_body; }

private:
    std::string m_body;
};

class JsonLog {
public:
    // Appends to the file; returns false when it cannot be opened.
    bool Open(const std::string& path);
    // Adds "time_ms" (milliseconds since the Unix epoch) and writes the line.
    void Write(const JsonLine& line);

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> m_file;
};

} // namespace devsim
