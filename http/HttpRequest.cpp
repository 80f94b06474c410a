#include "HttpRequest.h"

#include "http/HttpWire.h"
#include "http/Url.h"
#include "net/Socket.h"

#include <cstring>

namespace {

// A connect that has not completed by then is given up: the device is off, elsewhere, or the
// address is wrong.
constexpr int kConnectWaitMs = 4'000;

class SocketSource : public ByteSource {
public:
    explicit SocketSource(net::SocketHandle socket) : m_socket(socket) {}
    int Receive(char* buffer, int capacity) override
    {
        return net::Receive(m_socket, buffer, capacity);
    }

private:
    net::SocketHandle m_socket;
};

std::unique_ptr<char[]> CopyText(const std::string& text)
{
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

net::UniqueSocket Connect(const UrlParts& parts, int timeoutMs)
{
    net::UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!socket)
        return {};
    sockaddr_in address{};
    if (!net::ResolveIpv4(parts.host.c_str(), static_cast<std::uint16_t>(parts.port), address))
        return {};
    if (!net::SetBlocking(socket.Get(), false))
        return {};
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (!net::IsConnectPending(net::LastSocketError()))
            return {};
        if (net::WaitForConnect(socket.Get(), kConnectWaitMs) != net::ConnectWait::Connected)
            return {};
    }
    if (!net::SetBlocking(socket.Get(), true) ||
        !net::SetSendReceiveTimeouts(socket.Get(), timeoutMs))
        return {};
    return socket;
}

} // namespace

std::int32_t CHttpRequest::SendRequest(const char* url, const char* extraHeaders,
                                       const char* postData, std::int32_t contentLength,
                                       HttpResponse& response, const char* authToken)
{
    const std::string_view urlText = url != nullptr ? url : "";
    const UrlParts parts = ParseUrl(urlText);
    if (parts.scheme != "HTTP")
        return kRequestFailed;
    // The port is handed to the socket as 16 bits; a larger or negative number would silently
    // reach some other port of the device.
    if (parts.port < 0 || parts.port > 65535)
        return kRequestFailed;
    const int timeoutMs = RequestTimeoutMs(urlText);

    RequestContent content;
    content.path = parts.path;
    content.host = parts.host;
    content.authToken = authToken;
    content.extraHeaders = extraHeaders;
    content.postData = postData;
    content.contentLength = contentLength;
    const std::optional<std::string> request = ComposeRequest(content);
    if (!request)
        return kRequestFailed;

    const net::UniqueSocket socket = Connect(parts, timeoutMs);
    if (!socket)
        return kRequestFailed;
    // The request is at most 4,095 bytes and fits any socket buffer, so one send takes it all;
    // a send that takes less has failed as surely as one that returns an error.
    const int length = static_cast<int>(request->size());
    if (net::Send(socket.Get(), request->data(), length) != length)
        return kRequestFailed;

    SocketSource source(socket.Get());
    ResponseBytes answer = ReadResponse(source, ReadLimitsForTimeout(timeoutMs));
    response.request = CopyText(*request);
    response.bodyLength = static_cast<std::int32_t>(answer.body.Size());
    response.header = answer.header.Release();
    response.body = answer.body.Release();
    return kRequestDone;
}

std::int32_t HttpGet(CHttpRequest& requestObject, const char* url, const char* authToken,
                     std::string& requestText, std::string& header, std::string& body)
{
    HttpResponse response;
    if (requestObject.SendRequest(url, nullptr, nullptr, 0, response, authToken) != kRequestDone)
        return kHttpGetFailed;
    // A stand-in may leave a buffer out; it reads as empty text.
    const auto text = [](const std::unique_ptr<char[]>& buffer) {
        return std::string(buffer ? buffer.get() : "");
    };
    requestText = text(response.request);
    header = text(response.header);
    body = text(response.body);
    return kHttpGetOk;
}

std::int32_t HttpGet(const char* url, const char* authToken, std::string& header, std::string& body)
{
    CHttpRequest requestObject;
    std::string requestText;
    return HttpGet(requestObject, url, authToken, requestText, header, body);
}
