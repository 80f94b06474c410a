// The web server's side of HTTP/1.1 as the devices speak it: one GET a connection, answered and
// closed. Pure functions over the received bytes; the sockets are HttpPortService's.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace devsim {

// The tool sends at most 4,095 bytes; a header this long is no request of its.
inline constexpr std::size_t kMaxRequestHeader = 8192;

// Where the header ends: just past the first line that is empty or holds only a CR, so lines
// ending in CR LF and in LF alone both work (the tool's reader accepts either too). Nothing when
// that line has not arrived yet.
std::optional<std::size_t> FindHeaderEnd(std::string_view received);

struct HttpRequest {
    std::string method;
    std::string target;
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers; // values trimmed
};

struct HttpParse {
    std::optional<HttpRequest> request;
    std::string error; // why there is no request
};

// header: the bytes up to FindHeaderEnd. The request line must be "METHOD TARGET HTTP/x.y" with
// single spaces, every further line "Name: value".
HttpParse ParseHttpRequest(std::string_view header);

// The first header of that name, in any letter case.
std::optional<std::string> HeaderValue(const HttpRequest& request, std::string_view name);

struct BasicCredentials {
    // The decoded token up to its first colon, or all of it when there is no colon; nothing
    // when the value is not "Basic" and a valid base64 token.
    std::optional<std::string> user;
    bool hasColon = false;
    std::string password;
};

BasicCredentials ParseBasicAuthorization(std::string_view headerValue);

std::string_view ReasonPhrase(int status);

// Status line, Content-Type, Content-Length, Connection: close, the extra lines (each ending in
// CR LF), an empty line and the body.
std::string BuildHttpResponse(int status, std::string_view body,
                              std::string_view extraHeaders = {});

} // namespace devsim
