// JSON string escaping and the small array/object builders used for every output line.
#include "json_writer.h"

namespace wininspect {
namespace {

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendHexEscape(std::string& out, char32_t unit)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out += kHex[(unit >> shift) & 0xF];
    }
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Walks UTF-16 code points; `emit` gets each code point and whether it is a lone surrogate.
template <typename Emit> void ForEachCodePoint(std::wstring_view text, Emit emit)
{
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char16_t>(text[i]);
        if (IsHighSurrogate(c) && i + 1 < text.size() &&
            IsLowSurrogate(static_cast<char16_t>(text[i + 1]))) {
            const char32_t low = static_cast<char16_t>(text[i + 1]);
            emit(0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00), false);
            ++i;
        } else {
            emit(c, IsHighSurrogate(c) || IsLowSurrogate(c));
        }
    }
}

} // namespace

void AppendJsonString(std::string& out, std::wstring_view text)
{
    out += '"';
    ForEachCodePoint(text, [&out](char32_t c, bool lone) {
        if (lone) {
            AppendHexEscape(out, c);
            return;
        }
        switch (c) {
        case U'"': out += "\\\""; return;
        case U'\\': out += "\\\\"; return;
        case U'\b': out += "\\b"; return;
        case U'\f': out += "\\f"; return;
        case U'\n': out += "\\n"; return;
        case U'\r': out += "\\r"; return;
        case U'\t': out += "\\t"; return;
        default: break;
        }
        if (c < 0x20) {
            AppendHexEscape(out, c);
        } else {
            AppendUtf8(out, c);
        }
    });
    out += '"';
}

std::string JsonString(std::wstring_view text)
{
    std::string out;
    AppendJsonString(out, text);
    return out;
}

std::string ToUtf8(std::wstring_view text)
{
    std::string out;
    ForEachCodePoint(text, [&out](char32_t c, bool lone) { AppendUtf8(out, lone ? 0xFFFD : c); });
    return out;
}

void JsonArray::Separator()
{
    if (body_.size() > 1) {
        body_ += ',';
    }
}

JsonArray& JsonArray::Number(long long value)
{
    Separator();
    body_ += std::to_string(value);
    return *this;
}

JsonArray& JsonArray::String(std::wstring_view value)
{
    Separator();
    AppendJsonString(body_, value);
    return *this;
}

JsonArray& JsonArray::Raw(std::string_view json)
{
    Separator();
    body_ += json;
    return *this;
}

void JsonObject::Key(std::string_view key)
{
    if (body_.size() > 1) {
        body_ += ',';
    }
    body_ += '"';
    body_ += key; // keys are our own ASCII identifiers
    body_ += "\":";
}

JsonObject& JsonObject::Number(std::string_view key, long long value)
{
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Bool(std::string_view key, bool value)
{
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::String(std::string_view key, std::wstring_view value)
{
    Key(key);
    AppendJsonString(body_, value);
    return *this;
}

JsonObject& JsonObject::Raw(std::string_view key, std::string_view json)
{
    Key(key);
    body_ += json;
    return *this;
}

} // namespace wininspect
