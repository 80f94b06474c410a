#include "Wnd.h"

#include <exception>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace fw {
namespace {

// Which object manages which window. A table of our own rather than a window property or the
// user-data slot: it cannot clash with what a control keeps for itself, and a look-up costs no
// call into the system (under Wine a property look-up is a round trip to the wineserver, paid on
// every message).
class ObjectTable {
public:
    CWnd* Find(HWND window)
    {
        std::shared_lock lock(m_mutex);
        const auto found = m_objects.find(window);
        return found == m_objects.end() ? nullptr : found->second;
    }
    void Add(HWND window, CWnd* object)
    {
        std::unique_lock lock(m_mutex);
        m_objects[window] = object;
    }
    void Remove(HWND window)
    {
        std::unique_lock lock(m_mutex);
        m_objects.erase(window);
    }

private:
    std::shared_mutex m_mutex;
    std::unordered_map<HWND, CWnd*> m_objects;
};

ObjectTable& Objects()
{
    static ObjectTable table;
    return table;
}

bool MatchesEntry(const MessageEntry& entry, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message < entry.firstMessage || message > entry.lastMessage)
        return false;
    switch (message) {
    case WM_COMMAND:
        return entry.code == HIWORD(wParam) && entry.id == LOWORD(wParam);
    case WM_COMMAND | kReflected:
        return entry.code == HIWORD(wParam);
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        return entry.code == header->code && entry.id == header->idFrom;
    }
    case WM_NOTIFY | kReflected:
        return entry.code == reinterpret_cast<const NMHDR*>(lParam)->code;
    default:
        return true;
    }
}

bool IsControlColor(UINT message)
{
    return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
}

} // namespace

std::wstring CWindow::GetWindowText() const
{
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(m_hWnd)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(::GetWindowTextW(m_hWnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

RECT CWindow::GetWindowRect() const
{
    RECT rect{};
    ::GetWindowRect(m_hWnd, &rect);
    return rect;
}

RECT CWindow::GetClientRect() const
{
    RECT rect{};
    ::GetClientRect(m_hWnd, &rect);
    return rect;
}

CWnd::~CWnd()
{
    if (m_hWnd == nullptr)
        return;
    if (m_createdByUs)
        ::DestroyWindow(m_hWnd);
    else
        Detach();
}

CWnd* CWnd::FromHandlePermanent(HWND window)
{
    return window ? Objects().Find(window) : nullptr;
}

const MessageMap* CWnd::GetThisMessageMap()
{
    static const MessageMap map{nullptr, nullptr, 0};
    return &map;
}

const MessageMap* CWnd::GetMessageMap() const
{
    return GetThisMessageMap();
}

BOOL CWnd::SubclassWindow(HWND window)
{
    if (window == nullptr || m_hWnd != nullptr || FromHandlePermanent(window) != nullptr)
        return FALSE;
    m_hWnd = window;
    Objects().Add(window, this);
    PreSubclassWindow();
    m_superProc = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
        window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::StaticWindowProc)));
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(int id, const CWindow& parent)
{
    return SubclassWindow(::GetDlgItem(parent.m_hWnd, id));
}

void CWnd::AttachCreated(HWND window)
{
    m_hWnd = window;
    m_createdByUs = true;
    Objects().Add(window, this);
    m_superProc = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
        window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::StaticWindowProc)));
}

void CWnd::Detach()
{
    if (m_hWnd == nullptr)
        return;
    if (m_superProc != nullptr)
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_superProc));
    Objects().Remove(m_hWnd);
    m_hWnd = nullptr;
    m_superProc = nullptr;
    m_createdByUs = false;
}

BOOL CWnd::DestroyWindow()
{
    return m_hWnd != nullptr && ::DestroyWindow(m_hWnd);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_superProc != nullptr)
        return ::CallWindowProcW(m_superProc, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default()
{
    if (m_currentMessage == nullptr)
        return 0;
    return DefWindowProc(m_currentMessage->message, m_currentMessage->wParam,
                         m_currentMessage->lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

bool CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    const CurrentMessage current{message, wParam, lParam};
    const CurrentMessage* outer = m_currentMessage;
    m_currentMessage = &current;

    bool handled = false;
    // A control's own notifications go to the control's object first; what it takes, the
    // parent never sees. Colours and drawing go the other way: the parent decides first and
    // its default passes them on (OnCtlColor).
    if (message == WM_COMMAND && lParam != 0)
        handled = ReflectToChild(reinterpret_cast<HWND>(lParam), message, wParam, lParam, result);
    else if (message == WM_NOTIFY)
        handled = ReflectToChild(reinterpret_cast<const NMHDR*>(lParam)->hwndFrom, message, wParam,
                                 lParam, result);
    if (!handled)
        handled = Dispatch(message, wParam, lParam, result);
    if (!handled && IsControlColor(message)) {
        result = reinterpret_cast<LRESULT>(OnCtlColor(reinterpret_cast<HDC>(wParam),
                                                      reinterpret_cast<HWND>(lParam),
                                                      message - WM_CTLCOLORMSGBOX));
        handled = true;
    }
    if (!handled && message == WM_DRAWITEM) {
        // An owner-drawn control draws itself.
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        handled = ReflectToChild(item->hwndItem, message, wParam, lParam, result);
    }

    m_currentMessage = outer;
    return handled;
}

bool CWnd::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    for (const MessageMap* map = GetMessageMap(); map != nullptr;
         map = map->base ? map->base() : nullptr) {
        for (std::size_t i = 0; i < map->count; ++i) {
            const MessageEntry& entry = map->entries[i];
            if (MatchesEntry(entry, message, wParam, lParam))
                return entry.handler(*this, message, wParam, lParam, result);
        }
    }
    return false;
}

bool CWnd::ReflectToChild(HWND child, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    CWnd* object = FromHandlePermanent(child);
    return object != nullptr && object->OnWndMsg(message | kReflected, wParam, lParam, result);
}

HBRUSH CWnd::OnCtlColor(HDC dc, HWND control, UINT kind)
{
    LRESULT result = 0;
    if (ReflectToChild(control, (WM_CTLCOLORMSGBOX + kind) | kReflected,
                       reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control), result))
        return reinterpret_cast<HBRUSH>(result);
    return reinterpret_cast<HBRUSH>(Default());
}

LRESULT CALLBACK CWnd::StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* object = FromHandlePermanent(window);
    if (object == nullptr)
        return ::DefWindowProcW(window, message, wParam, lParam);
    // No exception may cross into the system's code that called us.
    try {
        LRESULT result = object->WindowProc(message, wParam, lParam);
        if (message == WM_NCDESTROY) {
            object->Detach();
            object->PostNcDestroy();
        }
        return result;
    } catch (const std::exception& error) {
        ::OutputDebugStringA(error.what());
    } catch (...) {
        ::OutputDebugStringW(L"unknown exception in a window procedure");
    }
    return 0;
}

} // namespace fw
