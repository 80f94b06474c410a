// One-line JSON output for wininspect. Window texts are UTF-16 and may hold anything a
// control lets a user type (quotes, tabs, lone surrogates), so every string goes through
// one escaper that emits UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace wininspect {

// Appends `text` as a quoted JSON string. Surrogate pairs become UTF-8; a lone surrogate
// is kept as a \uXXXX escape, so a broken text still shows what the control held.
void AppendJsonString(std::string& out, std::wstring_view text);

std::string JsonString(std::wstring_view text);

// Plain UTF-16 to UTF-8, for messages on stderr.
std::string ToUtf8(std::wstring_view text);

// Builds one JSON array or object in insertion order. Values are either numbers,
// booleans, strings or already serialised JSON (a nested array or object).
class JsonArray {
public:
    JsonArray& Number(long long value);
    JsonArray& String(std::wstring_view value);
    JsonArray& Raw(std::string_view json);
    std::string Done() const { return body_ + "]"; }

private:
    void Separator();
    std::string body_ = "[";
};

class JsonObject {
public:
    JsonObject& Number(std::string_view key, long long value);
    JsonObject& Bool(std::string_view key, bool value);
    JsonObject& String(std::string_view key, std::wstring_view value);
    JsonObject& Raw(std::string_view key, std::string_view json);
    std::string Done() const { return body_ + "}"; }

private:
    void Key(std::string_view key);
    std::string body_ = "{";
};

} // namespace wininspect
