// Splitting the URLs the HTTP client is handed ("http://10.77.1.10:8080/vb.htm?...") into scheme,
// host, port and path. The rule is deliberately simple and is kept as the devices' callers have
// always relied on it: the first colon ends the scheme, the host is upper-cased, the path keeps
// its case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Longer parts are cut to these lengths.
constexpr std::size_t kMaxSchemeLength = 19;
constexpr std::size_t kMaxHostLength = 2047;
constexpr std::size_t kMaxPathLength = 2047;
constexpr std::int32_t kDefaultHttpPort = 80;

struct UrlParts {
    // Upper case; "HTTP" when the URL has no colon at all.
    std::string scheme;
    // Upper case, without the port.
    std::string host;
    // As given, query included; empty when the URL ends after the host.
    std::string path;
    // The digits after a colon in the host, read as atoi reads them (no digits give 0);
    // kDefaultHttpPort when the host has no colon.
    std::int32_t port = kDefaultHttpPort;
};

// The first colon anywhere in the URL ends the scheme, so "10.1.2.3:8080/x" yields the scheme
// "10.1.2.3" (and fails the client's scheme check). After it, "//" is skipped (one "/" is not);
// the host is the longest run of letters, digits, '-', '.' and ':'; the path is all that follows.
UrlParts ParseUrl(std::string_view url);
