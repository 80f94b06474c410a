// Talking to windows that live in another process. Messages of the common controls
// (list view, header, IP address) carry raw pointers that Windows does not marshal, so
// their structures and text buffers have to sit in the target's own address space.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace wininspect {

// Long enough for a slow dialog handler, short enough that a hung tool fails a test
// instead of stalling it.
inline constexpr UINT kSendTimeoutMs = 5000;

// SendMessageTimeout that gives up on hung or exiting targets; nullopt on failure.
std::optional<LRESULT> SendWithTimeout(HWND window, UINT message, WPARAM wParam = 0,
                                       LPARAM lParam = 0);

// WM_GETTEXT, which the system marshals across processes (GetWindowText would return the
// stale creation text of another process's edit box). nullopt when the window does not answer.
std::optional<std::wstring> WindowText(HWND window);

// Title as the window manager keeps it; no message is sent, so it works on hung windows.
std::wstring WindowTitle(HWND window);
std::wstring WindowClass(HWND window);

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept;
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle();

    HANDLE Get() const { return handle_; }
    HANDLE Release();
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HANDLE handle_ = nullptr;
};

// A block of memory committed inside the process that owns a window, freed on destruction.
class RemoteBuffer {
public:
    // Empty optional with `error` filled when the process cannot be opened, is a 32-bit one
    // (its structures would have another layout) or refuses the allocation.
    static std::optional<RemoteBuffer> ForWindow(HWND window, size_t size, std::wstring& error);

    RemoteBuffer(RemoteBuffer&& other) noexcept;
    RemoteBuffer& operator=(RemoteBuffer&& other) noexcept;
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;
    ~RemoteBuffer();

    // Address, in the target process, of byte `offset` of the block.
    std::uintptr_t Address(size_t offset) const;
    bool Write(size_t offset, const void* data, size_t size) const;
    bool Read(size_t offset, void* data, size_t size) const;
    // Reads a NUL-terminated UTF-16 string from any address of the target process, at most
    // `maxChars` characters; controls may answer with a pointer to their own storage.
    std::optional<std::wstring> ReadString(std::uintptr_t address, size_t maxChars) const;

private:
    RemoteBuffer(UniqueHandle process, void* base, size_t size)
        : process_(std::move(process)), base_(base), size_(size)
    {
    }
    void Free();

    UniqueHandle process_;
    void* base_ = nullptr;
    size_t size_ = 0;
};

} // namespace wininspect
