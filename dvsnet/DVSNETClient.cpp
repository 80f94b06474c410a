// The five exported calls of DVSNETClient.dll: argument checks, the table of open connections,
// and the hand-over to Connection. See DVSNETClient.h for the contract and PROTOCOL.md for the
// wire.
#include "dvsnet/DVSNETClient.h"

#include "dvsnet/Connection.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {

using dvsnet::Connection;

// The open connections by handle. Handles count up from 1 and are not reused while the process
// lives (until the 32-bit count wraps), so a stale handle finds nothing rather than someone
// else's connection.
class ConnectionTable {
public:
    DVSNET_HANDLE Add(const std::shared_ptr<Connection>& connection)
    {
        const std::lock_guard lock(m_mutex);
        do {
            ++m_last;
        } while (m_last == 0 || m_open.contains(m_last));
        m_open.emplace(m_last, connection);
        return m_last;
    }
    std::shared_ptr<Connection> Find(DVSNET_HANDLE handle) const
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_open.find(handle);
        return found == m_open.end() ? nullptr : found->second;
    }
    std::shared_ptr<Connection> Remove(DVSNET_HANDLE handle)
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_open.find(handle);
        if (found == m_open.end())
            return nullptr;
        std::shared_ptr<Connection> connection = std::move(found->second);
        m_open.erase(found);
        return connection;
    }

private:
    mutable std::mutex m_mutex;
    std::map<DVSNET_HANDLE, std::shared_ptr<Connection>> m_open;
    DVSNET_HANDLE m_last = 0;
};

// Never destroyed: at process exit the workers have been killed mid-way, and their connections
// must not be taken apart under them when the DLL is detached.
ConnectionTable& Table()
{
    static ConnectionTable* const table = new ConnectionTable;
    return *table;
}

// A zero-terminated text of at most `maxLength` bytes.
bool FitsText(const char* text, std::size_t maxLength)
{
    return text != nullptr && ::strnlen(text, maxLength + 1) <= maxLength;
}

// The file name after the last backslash or slash, cut to what PACKAGE_BEGIN carries.
std::string PackageName(const char* path)
{
    const char* name = path;
    for (const char* at = path; *at != '\0'; ++at)
        if (*at == '\\' || *at == '/')
            name = at + 1;
    return std::string(name, ::strnlen(name, dvsnet::kMaxPackageName));
}

template <typename Call> LONG Guarded(Call call)
{
    // No exception may cross into the caller, which need not be C++ at all.
    // What can throw here is an allocation.
    try {
        return call();
    } catch (...) {
        return DVSNET_ERROR_RESOURCES;
    }
}

} // namespace

extern "C" {

DVSNET_API LONG WINAPI DVSNET_OpenServer(const char* name, const char* address, WORD port,
                                         const char* user, const char* password,
                                         DVSNET_HANDLE* server, LONG reserved1, LONG reserved2)
{
    return Guarded([&]() -> LONG {
        if (server == nullptr || reserved1 != 0 || reserved2 != 0 || port == 0 ||
            !FitsText(address, dvsnet::kMaxCredential) || address[0] == '\0' ||
            !FitsText(user, dvsnet::kMaxCredential) ||
            !FitsText(password, dvsnet::kMaxCredential) ||
            (name != nullptr && !FitsText(name, dvsnet::kMaxLabel)))
            return DVSNET_ERROR_ARGUMENT;

        dvsnet::OpenRequest request;
        request.label = name != nullptr ? name : "";
        request.address = address;
        request.port = port;
        request.user = user;
        request.password = password;
        std::unique_ptr<Connection> opened;
        if (const LONG error = Connection::Open(request, opened); error != DVSNET_OK)
            return error;

        const std::shared_ptr<Connection> connection(std::move(opened));
        const DVSNET_HANDLE handle = Table().Add(connection);
        if (!Connection::Start(connection, handle)) {
            Table().Remove(handle);
            return DVSNET_ERROR_RESOURCES;
        }
        *server = handle;
        return DVSNET_OK;
    });
}

DVSNET_API LONG WINAPI DVSNET_RegServerMsgCallback(DVSNET_HANDLE server,
                                                   DVSNET_MESSAGE_CALLBACK callback, void* user)
{
    return Guarded([&]() -> LONG {
        const std::shared_ptr<Connection> connection = Table().Find(server);
        if (!connection)
            return DVSNET_ERROR_HANDLE;
        connection->SetMessageCallback(callback, user);
        return DVSNET_OK;
    });
}

DVSNET_API LONG WINAPI DVSNET_UpdateServer(DVSNET_HANDLE server, const char* path,
                                           DVSNET_PROGRESS_CALLBACK callback, void* user)
{
    return Guarded([&]() -> LONG {
        if (callback == nullptr || !FitsText(path, MAX_PATH - 1) || path[0] == '\0')
            return DVSNET_ERROR_ARGUMENT;
        const std::shared_ptr<Connection> connection = Table().Find(server);
        if (!connection)
            return DVSNET_ERROR_HANDLE;
        // Answered before the file is touched; BeginTransfer decides for good.
        if (connection->TransferRunning())
            return DVSNET_ERROR_BUSY;
        if (connection->Lost())
            return DVSNET_ERROR_CONNECT;

        dvsnet::TransferRequest request;
        request.file.Reset(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        // CreateFileA reports failure with INVALID_HANDLE_VALUE, which the owner does not know.
        if (request.file.Get() == INVALID_HANDLE_VALUE) {
            request.file.Release();
            return DVSNET_ERROR_FILE;
        }
        LARGE_INTEGER size{};
        // The size field is 32 bits; an empty package is refused by every device anyway.
        if (!::GetFileSizeEx(request.file.Get(), &size) || size.QuadPart <= 0 ||
            size.QuadPart > 0xFFFFFFFFLL)
            return DVSNET_ERROR_FILE;
        request.size = static_cast<std::uint32_t>(size.QuadPart);
        request.name = PackageName(path);
        request.callback = callback;
        request.user = user;
        return connection->BeginTransfer(std::move(request));
    });
}

DVSNET_API LONG WINAPI DVSNET_GetServerInfo(DVSNET_HANDLE server, DVSNET_SERVER_INFO* info)
{
    return Guarded([&]() -> LONG {
        if (info == nullptr || info->size != sizeof(DVSNET_SERVER_INFO))
            return DVSNET_ERROR_ARGUMENT;
        const std::shared_ptr<Connection> connection = Table().Find(server);
        if (!connection)
            return DVSNET_ERROR_HANDLE;
        connection->FillInfo(*info);
        return DVSNET_OK;
    });
}

DVSNET_API LONG WINAPI DVSNET_CloseServer(DVSNET_HANDLE server)
{
    return Guarded([&]() -> LONG {
        const std::shared_ptr<Connection> connection = Table().Remove(server);
        if (!connection)
            return DVSNET_ERROR_HANDLE;
        connection->Stop();
        return DVSNET_OK;
    });
}

} // extern "C"
