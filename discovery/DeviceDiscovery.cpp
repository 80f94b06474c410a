// The main window's device discovery: endpoints, the search broadcast, the receiver thread and
// the turning of replies into list rows.
#include "app/KorvaleDlg.h"

#include "DeviceRow.h"
#include "framework/Text.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <span>
#include <vector>

namespace {

constexpr int kMaxReadSockets = 64;
constexpr long kReceiveWaitMicroseconds = 100000;
constexpr DWORD kIdleSleepMs = 10;
// Every device answers a search at once, so the replies arrive as one burst, faster than the
// receiver thread drains them, and whatever the socket's buffer cannot hold is dropped unseen.
// Under Wine the size goes to the host socket, whose default (208 KiB, at about 1.3 KiB per
// 316-byte reply) held only 166 replies of a burst. 4 MiB holds a few thousand; it bounds the
// queue and costs nothing while the socket is idle. The host may clamp it (Linux: rmem_max).
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

// To every device on the endpoint's network; send errors are not worth a word to the user.
void Broadcast(const DiscoveryEndpoint& endpoint, std::span<const std::uint8_t> datagram)
{
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    destination.sin_port = htons(kDiscoveryPort);
    ::sendto(endpoint.socket.Get(), reinterpret_cast<const char*>(datagram.data()),
             static_cast<int>(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&destination),
             sizeof(destination));
}

} // namespace

void CKorvaleDlg::OnSearch()
{
    m_deviceList.RemoveAllRows();
    RefreshEndpoints();

    std::array<std::uint8_t, kSearchRequestSize> request{};
    fw::ScopedLock lock(m_endpointLock);
    for (const DiscoveryEndpoint& endpoint : m_endpoints) {
        if (!endpoint.socket)
            continue;
        // Each copy names the address it leaves from.
        BuildSearchRequest(request, endpoint.localAddress);
        Broadcast(endpoint, request);
    }
}

void CKorvaleDlg::BroadcastModifyRequest(const ModifySettings& settings)
{
    std::array<std::uint8_t, kModifyRequestSize> request{};
    BuildModifyRequest(request, settings);
    fw::ScopedLock lock(m_endpointLock);
    for (const DiscoveryEndpoint& endpoint : m_endpoints)
        if (endpoint.socket)
            Broadcast(endpoint, request);
}

void CKorvaleDlg::RefreshEndpoints()
{
    fw::ScopedLock lock(m_endpointLock);
    char hostName[512] = {};
    if (::gethostname(hostName, sizeof(hostName)) != 0)
        return;
    const hostent* host = ::gethostbyname(hostName);
    if (host == nullptr || host->h_addrtype != AF_INET)
        return;

    for (char** entry = host->h_addr_list; *entry != nullptr; ++entry) {
        in_addr address{};
        std::memcpy(&address, *entry, sizeof(address));
        const std::uint32_t localAddress = ntohl(address.s_addr);
        if (FindEndpoint(localAddress))
            continue;

        net::UniqueSocket socket(::socket(AF_INET, SOCK_DGRAM, 0));
        if (!socket)
            continue;
        const int broadcast = 1;
        if (::setsockopt(socket.Get(), SOL_SOCKET, SO_BROADCAST,
                         reinterpret_cast<const char*>(&broadcast), sizeof(broadcast)) != 0)
            continue;
        // Refused or clamped, the default buffer still serves a smaller network.
        ::setsockopt(socket.Get(), SOL_SOCKET, SO_RCVBUF,
                     reinterpret_cast<const char*>(&kReceiveBufferBytes),
                     sizeof(kReceiveBufferBytes));
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr = address;
        local.sin_port = 0;
        if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0)
            continue;
        m_endpoints.push_back(DiscoveryEndpoint{std::move(socket), localAddress});
    }
}

bool CKorvaleDlg::FindEndpoint(std::uint32_t address)
{
    for (auto endpoint = m_endpoints.begin(); endpoint != m_endpoints.end();) {
        if (!endpoint->socket) {
            endpoint = m_endpoints.erase(endpoint);
            continue;
        }
        sockaddr_in bound{};
        int length = sizeof(bound);
        if (::getsockname(endpoint->socket.Get(), reinterpret_cast<sockaddr*>(&bound), &length) ==
                0 &&
            ntohl(bound.sin_addr.s_addr) == address)
            return true;
        ++endpoint;
    }
    return false;
}

unsigned __stdcall CKorvaleDlg::ReceiverThreadProc(void* dialog)
{
    auto* self = static_cast<CKorvaleDlg*>(dialog);
    self->ReceiveReplies();
    self->m_receiverStopped = true;
    return 0;
}

void CKorvaleDlg::ReceiveReplies()
{
    const HWND window = m_hWnd;
    ReplyBuffer buffer{};
    while (!m_stopReceiver) {
        fd_set readable;
        FD_ZERO(&readable);
        {
            fw::ScopedLock lock(m_endpointLock);
            for (const DiscoveryEndpoint& endpoint : m_endpoints) {
                if (readable.fd_count >= kMaxReadSockets)
                    break;
                if (endpoint.socket)
                    FD_SET(endpoint.socket.Get(), &readable);
            }
        }

        // An empty set is an error for select; it counts as an idle wait here.
        timeval wait{0, kReceiveWaitMicroseconds};
        const int ready =
            readable.fd_count == 0 ? SOCKET_ERROR : ::select(0, &readable, nullptr, nullptr, &wait);
        if (ready <= 0) {
            // A lost notification leaves no reply stranded: ask again while any is queued.
            bool queued = false;
            {
                fw::ScopedLock lock(m_replyLock);
                queued = !m_replyQueue.empty();
            }
            if (queued)
                ::PostMessageW(window, WM_SEARCH_REPLY, 0, 0);
            ::Sleep(kIdleSleepMs);
            continue;
        }

        fw::ScopedLock lock(m_endpointLock);
        int handled = 0;
        for (DiscoveryEndpoint& endpoint : m_endpoints) {
            if (handled >= ready)
                break;
            if (!endpoint.socket || !FD_ISSET(endpoint.socket.Get(), &readable))
                continue;
            ++handled;
            int length = ::recvfrom(endpoint.socket.Get(), reinterpret_cast<char*>(buffer.data()),
                                    static_cast<int>(buffer.size()), 0, nullptr, nullptr);
            // A datagram longer than a reply arrives cut to the buffer; that is no reason to
            // stop listening on the endpoint.
            if (length == SOCKET_ERROR && ::WSAGetLastError() == WSAEMSGSIZE)
                length = static_cast<int>(buffer.size());
            if (length == SOCKET_ERROR) {
                endpoint.socket.Reset();
                continue;
            }
            if (length == 0)
                continue;
            // A short datagram must not carry bytes of an older one into the queue.
            std::fill(buffer.begin() + length, buffer.end(), std::uint8_t{0});
            if (!IsSearchReply(buffer))
                continue;
            std::unique_ptr<ReplyBuffer> copy(new (std::nothrow) ReplyBuffer(buffer));
            if (!copy)
                continue;
            const ReplyBuffer* posted = copy.get();
            {
                fw::ScopedLock replies(m_replyLock);
                m_replyQueue.push_back(std::move(copy));
            }
            ::PostMessageW(window, WM_SEARCH_REPLY, reinterpret_cast<WPARAM>(posted), 0);
        }
    }
}

void CKorvaleDlg::StopDiscovery()
{
    if (m_discoveryStopped)
        return;
    m_discoveryStopped = true;

    m_stopReceiver = true;
    // A thread that never started, or that ended some other way, is not waited for.
    if (m_receiverThread)
        while (!m_receiverStopped &&
               ::WaitForSingleObject(m_receiverThread.Get(), kIdleSleepMs) == WAIT_TIMEOUT) {
        }
    {
        fw::ScopedLock lock(m_endpointLock);
        for (DiscoveryEndpoint& endpoint : m_endpoints)
            endpoint.socket.Reset();
    }
    fw::ScopedLock lock(m_replyLock);
    m_replyQueue.clear();
}

void CKorvaleDlg::OnSearchReply()
{
    std::unique_ptr<ReplyBuffer> record;
    {
        fw::ScopedLock lock(m_replyLock);
        if (m_replyQueue.empty())
            return;
        record = std::move(m_replyQueue.front());
        m_replyQueue.pop_front();
    }

    const SearchReply reply = ReadSearchReply(*record);
    const int rows = m_deviceList.GetItemCount();
    const std::wstring mac = fw::FromAnsi(MacText(reply.mac));
    // The MAC identifies a device within a search: a second answer (another interface, a
    // repeat) adds nothing.
    for (int row = 0; row < rows; ++row)
        if (m_deviceList.GetItemText(row, kColumnMac) == mac)
            return;
    if (!IsListedModel(reply.model))
        return;

    m_deviceList.SendMessage(WM_SETREDRAW, FALSE);
    std::vector<std::wstring> texts;
    for (const std::string& text : DeviceRowTexts(reply, rows + 1))
        texts.push_back(fw::FromAnsi(text));
    m_deviceList.AddRow(texts);
    m_deviceList.SendMessage(WM_SETREDRAW, TRUE);
}
