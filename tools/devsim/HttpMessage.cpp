#include "HttpMessage.h"

#include "Base64.h"

#include <algorithm>
#include <cctype>

namespace devsim {

namespace {

std::string_view TrimBlanks(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool IsToken(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7F;
    });
}

} // namespace

std::optional<std::size_t> FindHeaderEnd(std::string_view received)
{
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < received.size(); ++i) {
        if (received[i] != '\n')
            continue;
        const std::string_view line = received.substr(lineStart, i - lineStart);
        if (line.empty() || line == "\r")
            return i + 1;
        lineStart = i + 1;
    }
    return std::nullopt;
}

HttpParse ParseHttpRequest(std::string_view header)
{
    std::vector<std::string_view> lines;
    while (!header.empty()) {
        const std::size_t end = header.find('\n');
        std::string_view line = header.substr(0, end);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        lines.push_back(line);
        header = end == std::string_view::npos ? std::string_view{} : header.substr(end + 1);
    }
    // The empty line that ends the header.
    if (!lines.empty() && lines.back().empty())
        lines.pop_back();
    if (lines.empty())
        return {std::nullopt, "empty request"};

    const std::string_view requestLine = lines.front();
    const std::size_t firstSpace = requestLine.find(' ');
    const std::size_t secondSpace =
        firstSpace == std::string_view::npos ? firstSpace : requestLine.find(' ', firstSpace + 1);
    if (secondSpace == std::string_view::npos)
        return {std::nullopt, "request line without method, target and version"};
    HttpRequest request;
    request.method = requestLine.substr(0, firstSpace);
    request.target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    request.version = requestLine.substr(secondSpace + 1);
    if (!IsToken(request.method) || !IsToken(request.target) ||
        !request.version.starts_with("HTTP/") || !IsToken(request.version))
        return {std::nullopt, "malformed request line"};

    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::size_t colon = lines[i].find(':');
        if (colon == std::string_view::npos || !IsToken(lines[i].substr(0, colon)))
            return {std::nullopt, "malformed header line " + std::to_string(i + 1)};
        request.headers.emplace_back(lines[i].substr(0, colon),
                                     TrimBlanks(lines[i].substr(colon + 1)));
    }
    return {std::move(request), {}};
}

std::optional<std::string> HeaderValue(const HttpRequest& request, std::string_view name)
{
    for (const auto& [key, value] : request.headers)
        if (EqualsIgnoringCase(key, name))
            return value;
    return std::nullopt;
}

BasicCredentials ParseBasicAuthorization(std::string_view headerValue)
{
    BasicCredentials credentials;
    const std::size_t space = headerValue.find_first_of(" \t");
    const std::string_view scheme = headerValue.substr(0, space);
    if (!EqualsIgnoringCase(scheme, "Basic"))
        return credentials;
    // The tool sends the line also with an empty token.
    const std::string_view token = space == std::string_view::npos
                                       ? std::string_view{}
                                       : TrimBlanks(headerValue.substr(space));
    const auto decoded = DecodeBase64(token);
    if (!decoded)
        return credentials;
    const std::size_t colon = decoded->find(':');
    credentials.user = decoded->substr(0, colon);
    if (colon != std::string::npos) {
        credentials.hasColon = true;
        credentials.password = decoded->substr(colon + 1);
    }
    return credentials;
}

std::string_view ReasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

std::string BuildHttpResponse(int status, std::string_view body, std::string_view extraHeaders)
{
    std::string response =
        "HTTP/1.1 " + std::to_string(status) + ' ' + std::string(ReasonPhrase(status)) + "\r\n";
    response += "Content-Type: text/html\r\n";
    response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    response += "Connection: close\r\n";
    response += extraHeaders;
    response += "\r\n";
    response += body;
    return response;
}

} // namespace devsim
