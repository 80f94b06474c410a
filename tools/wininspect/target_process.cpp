// Message sending with timeouts, window texts and memory inside the target process.
#include "target_process.h"

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

namespace wininspect {

std::optional<LRESULT> SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_ERRORONEXIT,
                             kSendTimeoutMs, &result)) {
        return std::nullopt;
    }
    return static_cast<LRESULT>(result);
}

std::optional<std::wstring> WindowText(HWND window)
{
    const auto length = SendWithTimeout(window, WM_GETTEXTLENGTH);
    if (!length) {
        return std::nullopt;
    }
    // The length is a hint only (it may count ANSI bytes); leave room and trust the copy count.
    std::wstring text(static_cast<size_t>(*length > 0 ? *length : 0) + 1, L'\0');
    const auto copied = SendWithTimeout(window, WM_GETTEXT, text.size(),
                                        reinterpret_cast<LPARAM>(text.data()));
    if (!copied) {
        return std::nullopt;
    }
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

std::wstring WindowTitle(HWND window)
{
    std::wstring title(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    const int copied = GetWindowTextW(window, title.data(), static_cast<int>(title.size()));
    title.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return title;
}

std::wstring WindowClass(HWND window)
{
    wchar_t name[256] = {};
    const int copied = GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return std::wstring(name, copied > 0 ? static_cast<size_t>(copied) : 0);
}

UniqueHandle& UniqueHandle::operator=(UniqueHandle&& other) noexcept
{
    if (this != &other) {
        if (handle_) {
            CloseHandle(handle_);
        }
        handle_ = other.Release();
    }
    return *this;
}

UniqueHandle::~UniqueHandle()
{
    if (handle_) {
        CloseHandle(handle_);
    }
}

HANDLE UniqueHandle::Release() { return std::exchange(handle_, nullptr); }

std::optional<RemoteBuffer> RemoteBuffer::ForWindow(HWND window, size_t size, std::wstring& error)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    UniqueHandle process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                         PROCESS_QUERY_INFORMATION,
                                     FALSE, pid));
    if (!process) {
        error = L"cannot open process " + std::to_wstring(pid) + L" (error " +
                std::to_wstring(GetLastError()) + L")";
        return std::nullopt;
    }
    BOOL wow64 = FALSE;
    if (IsWow64Process(process.Get(), &wow64) && wow64) {
        error = L"process " + std::to_wstring(pid) + L" is a 32-bit process; not supported";
        return std::nullopt;
    }
    void* base = VirtualAllocEx(process.Get(), nullptr, size, MEM_COMMIT | MEM_RESERVE,
                                PAGE_READWRITE);
    if (!base) {
        error = L"cannot allocate memory in process " + std::to_wstring(pid) + L" (error " +
                std::to_wstring(GetLastError()) + L")";
        return std::nullopt;
    }
    return RemoteBuffer(std::move(process), base, size);
}

RemoteBuffer::RemoteBuffer(RemoteBuffer&& other) noexcept
    : process_(std::move(other.process_)), base_(std::exchange(other.base_, nullptr)),
      size_(std::exchange(other.size_, 0))
{
}

RemoteBuffer& RemoteBuffer::operator=(RemoteBuffer&& other) noexcept
{
    if (this != &other) {
        Free();
        process_ = std::move(other.process_);
        base_ = std::exchange(other.base_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

RemoteBuffer::~RemoteBuffer() { Free(); }

void RemoteBuffer::Free()
{
    if (base_) {
        VirtualFreeEx(process_.Get(), base_, 0, MEM_RELEASE);
        base_ = nullptr;
    }
}

std::uintptr_t RemoteBuffer::Address(size_t offset) const
{
    return reinterpret_cast<std::uintptr_t>(base_) + offset;
}

bool RemoteBuffer::Write(size_t offset, const void* data, size_t size) const
{
    if (offset > size_ || size > size_ - offset) {
        return false;
    }
    SIZE_T written = 0;
    return WriteProcessMemory(process_.Get(), reinterpret_cast<void*>(Address(offset)), data,
                              size, &written) &&
           written == size;
}

bool RemoteBuffer::Read(size_t offset, void* data, size_t size) const
{
    if (offset > size_ || size > size_ - offset) {
        return false;
    }
    SIZE_T read = 0;
    return ReadProcessMemory(process_.Get(), reinterpret_cast<const void*>(Address(offset)), data,
                             size, &read) &&
           read == size;
}

std::optional<std::wstring> RemoteBuffer::ReadString(std::uintptr_t address, size_t maxChars) const
{
    // Read page by page: a string near the end of a foreign allocation must not make us
    // read past it, where ReadProcessMemory would fail the whole request.
    constexpr std::uintptr_t kPage = 4096;
    std::wstring text;
    while (text.size() < maxChars) {
        const std::uintptr_t pageLeft = kPage - (address % kPage);
        size_t chunk = pageLeft / sizeof(wchar_t);
        if (chunk == 0) {
            chunk = 1; // a misaligned character straddling two pages
        }
        chunk = std::min(chunk, maxChars - text.size());
        std::vector<wchar_t> part(chunk);
        SIZE_T read = 0;
        if (!ReadProcessMemory(process_.Get(), reinterpret_cast<const void*>(address), part.data(),
                               chunk * sizeof(wchar_t), &read) ||
            read != chunk * sizeof(wchar_t)) {
            return std::nullopt;
        }
        for (const wchar_t c : part) {
            if (c == L'\0') {
                return text;
            }
            text += c;
        }
        address += chunk * sizeof(wchar_t);
    }
    return text;
}

} // namespace wininspect
