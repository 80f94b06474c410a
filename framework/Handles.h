// Move-only owners for the kernel and GDI objects the program creates, so every handle is
// released on every path and no window code calls CloseHandle or DeleteObject itself.
#pragma once

#include <windows.h>

#include <utility>

namespace fw {

// Owns one handle; Traits says what "no handle" is and how to release one.
template <typename Traits> class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : m_handle(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }

    Handle Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != Traits::Invalid(); }

    Handle Release() { return std::exchange(m_handle, Traits::Invalid()); }

    void Reset(Handle handle = Traits::Invalid())
    {
        Handle old = std::exchange(m_handle, handle);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }

private:
    Handle m_handle = Traits::Invalid();
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::CloseHandle(handle); }
};

template <typename T> struct GdiObjectTraits {
    using Handle = T;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::DeleteObject(handle); }
};

struct MemoryDcTraits {
    using Handle = HDC;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::DeleteDC(handle); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using MemoryDc = UniqueHandle<MemoryDcTraits>;
using OwnedBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using OwnedBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using OwnedFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using OwnedRegion = UniqueHandle<GdiObjectTraits<HRGN>>;

// A font the window creates once and hands to its controls with WM_SETFONT.
class CFont {
public:
    bool CreateFontIndirect(const LOGFONTW& logFont)
    {
        m_font.Reset(::CreateFontIndirectW(&logFont));
        return static_cast<bool>(m_font);
    }
    HFONT GetSafeHandle() const { return m_font.Get(); }

private:
    OwnedFont m_font;
};

// A device context the framework's drawing classes work on; derived classes decide where its
// handle comes from and what happens to it at the end.
class CDC {
public:
    CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;
    virtual ~CDC() = default;

    HDC GetSafeHdc() const { return m_hDC; }
    void FillSolidRect(const RECT& rect, COLORREF color) const
    {
        OwnedBrush brush(::CreateSolidBrush(color));
        ::FillRect(m_hDC, &rect, brush.Get());
    }

protected:
    HDC m_hDC = nullptr;
};

// Selects an object into a device context and puts the previous one back when it goes.
class DcSelection {
public:
    DcSelection(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(::SelectObject(dc, object)) {}
    DcSelection(const DcSelection&) = delete;
    DcSelection& operator=(const DcSelection&) = delete;
    ~DcSelection() { ::SelectObject(m_dc, m_previous); }

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

// BeginPaint/EndPaint for one WM_PAINT.
class CPaintDC {
public:
    explicit CPaintDC(HWND window) : m_window(window) { m_dc = ::BeginPaint(window, &m_paint); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    ~CPaintDC() { ::EndPaint(m_window, &m_paint); }

    HDC GetSafeHdc() const { return m_dc; }

private:
    HWND m_window;
    PAINTSTRUCT m_paint{};
    HDC m_dc;
};

// A critical section that lives exactly as long as its owner.
class CriticalSection {
public:
    CriticalSection() { ::InitializeCriticalSection(&m_section); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    ~CriticalSection() { ::DeleteCriticalSection(&m_section); }

    void Lock() { ::EnterCriticalSection(&m_section); }
    void Unlock() { ::LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

class ScopedLock {
public:
    explicit ScopedLock(CriticalSection& section) : m_section(section) { m_section.Lock(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;
    ~ScopedLock() { m_section.Unlock(); }

private:
    CriticalSection& m_section;
};

} // namespace fw
