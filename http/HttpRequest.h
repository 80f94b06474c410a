// The device web client: one HTTP/1.1 request per TCP connection to a device's CGI page, with a
// Basic authorization line, and the raw answer (header text and body bytes) read until the server
// closes or goes quiet. It does not interpret the answer; the callers look for the status they
// need. Winsock must have been started by the application before the first request.
//
// Time bounds, with T the timeout RequestTimeoutMs picks for the URL (1 s for every request the
// program makes): the connection gets 4 s; the send waits at most T; the header phase and the
// body phase each stop receiving once kPhaseBudgetTimeouts x T (8 T) has passed since the phase
// began, and as one receive waits at most T, each ends within 9 T. A call therefore ends within
// 4 s + 19 T (23 s at T = 1 s) whatever the peer does, plus the time a host name takes to
// resolve (the program passes dotted addresses, which resolve at once).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// What SendRequest fills on success. The buffers come from SendRequest and belong to the caller.
struct HttpResponse {
    // The request exactly as sent, NUL-terminated.
    std::unique_ptr<char[]> request;
    // Every byte from the status line up to and including the LF of the empty line that ends the
    // header lines, unparsed, NUL-terminated.
    std::unique_ptr<char[]> header;
    // The bytes after the header until the connection ended, then one NUL that is not counted.
    std::unique_ptr<char[]> body;
    std::int32_t bodyLength = 0;
};

// SendRequest's results.
constexpr std::int32_t kRequestDone = 0;
constexpr std::int32_t kRequestFailed = 1;

// Keeps no request state: every SendRequest is a fresh connection, and one object may serve any
// number of requests. Polymorphic so that callers can be tested with a stand-in.
class CHttpRequest {
public:
    virtual ~CHttpRequest() = default;

    // Sends one request to `url` ("http://host[:port]/path?query"; the scheme is checked
    // without regard to case) and reads the answer. POST when `postData` is not null, else GET.
    // `extraHeaders` (null or CR LF terminated lines) goes after the Host line; `contentLength`,
    // when not 0, is sent as a Content-Length line and limits the body taken from `postData`.
    // Returns kRequestDone when the request went out and the answer was read to its end (a
    // silent server included: the header and body are then empty); kRequestFailed, with
    // `response` untouched and the socket closed, on a wrong scheme, a port outside 0 to 65535,
    // a request longer than 4,095 bytes, and any failure to create, resolve, connect, configure
    // or send.
    virtual std::int32_t SendRequest(const char* url, const char* extraHeaders,
                                     const char* postData, std::int32_t contentLength,
                                     HttpResponse& response, const char* authToken);
};

// HttpGet's results.
constexpr std::int32_t kHttpGetOk = 1;
constexpr std::int32_t kHttpGetFailed = 0;

// A GET without extra headers or body through `requestObject`. On success the three texts are
// copied into the strings, each up to its first NUL byte (so a body holding NUL bytes is cut
// there); on failure the strings are left as they were.
std::int32_t HttpGet(CHttpRequest& requestObject, const char* url, const char* authToken,
                     std::string& requestText, std::string& header, std::string& body);

// The same through a request object of its own, for callers that want only the answer.
std::int32_t HttpGet(const char* url, const char* authToken, std::string& header,
                     std::string& body);
