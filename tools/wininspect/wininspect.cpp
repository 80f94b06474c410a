// wininspect: looks at and pokes the windows of a running Win32 program from outside, for
// the end-to-end tests that drive Tessarin under Wine. Run it under the same wineserver as
// the program. Every result is one JSON object per line on stdout; see README.md.
#include "json_writer.h"
#include "parse.h"
#include "target_process.h"

#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <cstdio>
#include <cwchar>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wininspect {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitNotFound = 1;
constexpr int kExitUsage = 2;

constexpr DWORD kPollMs = 50;
constexpr long long kDefaultTimeoutMs = 10000;

// Remote block for list-view queries: one structure slot, then a text buffer far larger
// than any cell the tool shows (names, addresses, firmware strings).
constexpr size_t kStructSlot = 1024;
constexpr size_t kTextChars = 32 * 1024;
constexpr size_t kRemoteSize = kStructSlot + kTextChars * sizeof(wchar_t);

// Safety bound on window walks, in case a window tree changes under us while we walk it.
constexpr int kMaxWindows = 100000;

struct Failure {
    int exitCode;
    std::wstring message;
};

[[noreturn]] void Fail(int exitCode, std::wstring message) { throw Failure{exitCode, std::move(message)}; }

void WriteLine(const std::string& json)
{
    std::fwrite(json.data(), 1, json.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::wstring Quoted(std::wstring_view text) { return L"\"" + std::wstring(text) + L"\""; }

// ---------------------------------------------------------------------------------------
// Command line

class Args {
public:
    Args(int argc, wchar_t** argv, std::set<std::wstring> allowedValues,
         std::set<std::wstring> allowedFlags)
    {
        for (int i = 2; i < argc; ++i) {
            const std::wstring name = argv[i];
            if (allowedFlags.contains(name)) {
                flags_.insert(name);
            } else if (allowedValues.contains(name)) {
                if (i + 1 >= argc) {
                    Fail(kExitUsage, name + L" needs a value");
                }
                values_[name] = argv[++i];
            } else {
                Fail(kExitUsage, L"unknown option " + Quoted(name) + L" for " + argv[1]);
            }
        }
    }

    bool Has(const std::wstring& name) const { return values_.contains(name); }
    bool Flag(const std::wstring& name) const { return flags_.contains(name); }

    const std::wstring& Text(const std::wstring& name) const
    {
        const auto it = values_.find(name);
        if (it == values_.end()) {
            Fail(kExitUsage, name + L" is required");
        }
        return it->second;
    }

    long long Number(const std::wstring& name) const
    {
        const auto value = ParseNumber(Text(name));
        if (!value) {
            Fail(kExitUsage, name + L" wants a decimal or 0x hex number, not " + Quoted(Text(name)));
        }
        return static_cast<long long>(*value);
    }

    std::optional<long long> OptionalNumber(const std::wstring& name) const
    {
        if (!Has(name)) {
            return std::nullopt;
        }
        return Number(name);
    }

private:
    std::map<std::wstring, std::wstring> values_;
    std::set<std::wstring> flags_;
};

HWND HandleFromNumber(long long value) { return reinterpret_cast<HWND>(static_cast<intptr_t>(value)); }

long long NumberFromHandle(HWND window) { return static_cast<long long>(reinterpret_cast<intptr_t>(window)); }

// ---------------------------------------------------------------------------------------
// Finding windows

struct TopLevelMatch {
    HWND visible = nullptr;
    HWND hidden = nullptr;
};

TopLevelMatch FindTopLevel(const std::wstring& title)
{
    struct Search {
        const std::wstring* title;
        TopLevelMatch match;
    } search{&title, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(param);
            if (WindowTitle(window) != *s.title) {
                return TRUE;
            }
            if (IsWindowVisible(window)) {
                s.match.visible = window;
                return FALSE;
            }
            if (!s.match.hidden) {
                s.match.hidden = window;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.match;
}

std::vector<HWND> VisibleTopLevelWindows()
{
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            if (IsWindowVisible(window)) {
                reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> Descendants(HWND top)
{
    std::vector<HWND> windows;
    EnumChildWindows(
        top,
        [](HWND window, LPARAM param) -> BOOL {
            auto& list = *reinterpret_cast<std::vector<HWND>*>(param);
            list.push_back(window);
            return list.size() < static_cast<size_t>(kMaxWindows);
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// The window named by --hwnd, or the top-level window titled --title (a visible one if
// there is one).
HWND ResolveWindow(const Args& args)
{
    if (args.Has(L"--hwnd") && args.Has(L"--title")) {
        Fail(kExitUsage, L"give either --title or --hwnd, not both");
    }
    if (args.Has(L"--hwnd")) {
        HWND window = HandleFromNumber(args.Number(L"--hwnd"));
        if (!IsWindow(window)) {
            Fail(kExitNotFound, L"no window with handle " + args.Text(L"--hwnd"));
        }
        return window;
    }
    if (!args.Has(L"--title")) {
        Fail(kExitUsage, L"--title or --hwnd is required");
    }
    const TopLevelMatch match = FindTopLevel(args.Text(L"--title"));
    if (HWND window = match.visible ? match.visible : match.hidden) {
        return window;
    }
    Fail(kExitNotFound, L"no top-level window titled " + Quoted(args.Text(L"--title")));
}

LONG_PTR ControlId(HWND window) { return GetWindowLongPtrW(window, GWLP_ID); }

// The shallowest descendant with that id: a dialog's own control before one of the same id
// inside a child panel.
HWND FindControl(HWND top, LONG_PTR id)
{
    std::vector<HWND> level{top};
    int seen = 0;
    while (!level.empty() && seen < kMaxWindows) {
        std::vector<HWND> next;
        for (HWND parent : level) {
            for (HWND child = GetWindow(parent, GW_CHILD); child && seen < kMaxWindows;
                 child = GetWindow(child, GW_HWNDNEXT), ++seen) {
                if (ControlId(child) == id) {
                    return child;
                }
                next.push_back(child);
            }
        }
        level = std::move(next);
    }
    return nullptr;
}

HWND ResolveControl(const Args& args, HWND top)
{
    const long long id = args.Number(L"--id");
    HWND control = FindControl(top, static_cast<LONG_PTR>(id));
    if (!control) {
        Fail(kExitNotFound, L"no control with id " + std::to_wstring(id) + L" in window " +
                                std::to_wstring(NumberFromHandle(top)));
    }
    return control;
}

// Comctl32 v6 classes may be registered with a version prefix ("6.0.0.0!SysListView32").
bool IsClass(HWND window, const wchar_t* name)
{
    const std::wstring full = WindowClass(window);
    const size_t bang = full.rfind(L'!');
    const std::wstring base = bang == std::wstring::npos ? full : full.substr(bang + 1);
    return _wcsicmp(base.c_str(), name) == 0;
}

bool IsCheckable(HWND button)
{
    switch (GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON: return true;
    default: return false;
    }
}

// ---------------------------------------------------------------------------------------
// Output pieces

std::string RectJson(const RECT& rect)
{
    return JsonArray().Number(rect.left).Number(rect.top).Number(rect.right).Number(rect.bottom).Done();
}

std::string TextOrNull(const std::optional<std::wstring>& text)
{
    return text ? JsonString(*text) : std::string("null");
}

DWORD ProcessId(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

JsonObject TopLevelJson(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    JsonObject json;
    json.Number("hwnd", NumberFromHandle(window))
        .Number("pid", ProcessId(window))
        .String("class", WindowClass(window))
        .String("title", WindowTitle(window))
        .Raw("rect", RectJson(rect));
    return json;
}

// Message boxes and other dialogs: what a user reads and can press.
void AddDialogContents(JsonObject& json, HWND dialog)
{
    JsonArray texts;
    JsonArray buttons;
    for (HWND child : Descendants(dialog)) {
        if (IsClass(child, L"Static")) {
            const auto text = WindowText(child);
            if (text && !text->empty()) {
                texts.String(*text);
            }
        } else if (IsClass(child, L"Button") && IsWindowVisible(child)) {
            buttons.Raw(JsonObject()
                            .Number("id", ControlId(child))
                            .Raw("text", TextOrNull(WindowText(child)))
                            .Bool("enabled", IsWindowEnabled(child) != FALSE)
                            .Done());
        }
    }
    json.Raw("texts", texts.Done()).Raw("buttons", buttons.Done());
}

// ---------------------------------------------------------------------------------------
// Commands

long long TimeoutMs(const Args& args)
{
    const long long timeout = args.OptionalNumber(L"--timeout").value_or(kDefaultTimeoutMs);
    if (timeout < 0) {
        Fail(kExitUsage, L"--timeout must not be negative");
    }
    return timeout;
}

// Polls `done` every kPollMs until it returns true or the timeout passes.
template <typename Check> bool PollUntil(long long timeoutMs, Check done)
{
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        if (done()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(kPollMs);
    }
}

int CmdWait(const Args& args)
{
    const long long timeout = TimeoutMs(args);
    HWND found = nullptr;
    if (args.Has(L"--hwnd") && args.Has(L"--title")) {
        Fail(kExitUsage, L"give either --title or --hwnd, not both");
    }
    if (args.Has(L"--hwnd")) {
        HWND window = HandleFromNumber(args.Number(L"--hwnd"));
        if (PollUntil(timeout, [&] { return IsWindow(window) && IsWindowVisible(window); })) {
            found = window;
        }
    } else {
        const std::wstring& title = args.Text(L"--title");
        PollUntil(timeout, [&] { return (found = FindTopLevel(title).visible) != nullptr; });
    }
    if (!found) {
        Fail(kExitNotFound, L"timed out after " + std::to_wstring(timeout) +
                                L" ms waiting for a visible window");
    }
    WriteLine(TopLevelJson(found).Done());
    return kExitOk;
}

int CmdGone(const Args& args)
{
    const long long timeout = TimeoutMs(args);
    if (args.Has(L"--hwnd") && args.Has(L"--title")) {
        Fail(kExitUsage, L"give either --title or --hwnd, not both");
    }
    bool gone = false;
    if (args.Has(L"--hwnd")) {
        HWND window = HandleFromNumber(args.Number(L"--hwnd"));
        gone = PollUntil(timeout, [&] { return !IsWindow(window); });
    } else {
        const std::wstring& title = args.Text(L"--title");
        gone = PollUntil(timeout, [&] {
            const TopLevelMatch match = FindTopLevel(title);
            return !match.visible && !match.hidden;
        });
    }
    if (!gone) {
        Fail(kExitNotFound, L"timed out after " + std::to_wstring(timeout) +
                                L" ms; the window still exists");
    }
    WriteLine(JsonObject().Bool("gone", true).Done());
    return kExitOk;
}

int CmdWindows(const Args&)
{
    for (HWND window : VisibleTopLevelWindows()) {
        JsonObject json = TopLevelJson(window);
        if (IsClass(window, L"#32770")) {
            AddDialogContents(json, window);
        }
        WriteLine(json.Done());
    }
    return kExitOk;
}

int CmdControls(const Args& args)
{
    HWND top = ResolveWindow(args);
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    const HWND focus = GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &gui) ? gui.hwndFocus
                                                                                         : nullptr;
    std::optional<RemoteBuffer> remote; // opened on the first IP address control
    bool remoteTried = false;

    for (HWND control : Descendants(top)) {
        JsonArray path;
        std::vector<LONG_PTR> ancestors;
        for (HWND up = GetAncestor(control, GA_PARENT); up && up != top;
             up = GetAncestor(up, GA_PARENT)) {
            ancestors.push_back(ControlId(up));
        }
        for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) {
            path.Number(*it);
        }

        RECT screen{};
        GetWindowRect(control, &screen);
        RECT client = screen;
        MapWindowPoints(HWND_DESKTOP, top, reinterpret_cast<POINT*>(&client), 2);

        JsonObject json;
        json.Number("hwnd", NumberFromHandle(control))
            .Number("parent", NumberFromHandle(GetAncestor(control, GA_PARENT)))
            .Raw("path", path.Done())
            .Number("id", ControlId(control))
            .String("class", WindowClass(control));

        if (IsClass(control, WC_IPADDRESSW)) {
            std::wstring error;
            if (!remoteTried) {
                remoteTried = true;
                remote = RemoteBuffer::ForWindow(control, sizeof(DWORD), error);
                if (!remote) {
                    const std::string warning = "wininspect: cannot read IP address controls: " +
                                                ToUtf8(error) + "\n";
                    std::fwrite(warning.data(), 1, warning.size(), stderr);
                }
            }
            const DWORD zero = 0;
            std::optional<LRESULT> fields;
            DWORD address = 0;
            if (remote && remote->Write(0, &zero, sizeof(zero))) {
                fields = SendWithTimeout(control, IPM_GETADDRESS, 0,
                                         static_cast<LPARAM>(remote->Address(0)));
            }
            if (fields && remote->Read(0, &address, sizeof(address))) {
                json.String("text", DottedAddress(address)).Number("fields", *fields);
            } else {
                json.Raw("text", "null");
            }
            const auto blank = SendWithTimeout(control, IPM_ISBLANK);
            json.Raw("blank", blank ? (*blank ? "true" : "false") : "null");
        } else {
            json.Raw("text", TextOrNull(WindowText(control)));
        }

        json.Bool("visible", IsWindowVisible(control) != FALSE)
            .Bool("enabled", IsWindowEnabled(control) != FALSE)
            .Bool("focused", control == focus)
            .Number("style", static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE)));
        if (IsClass(control, L"Button") && IsCheckable(control)) {
            const auto check = SendWithTimeout(control, BM_GETCHECK);
            json.Raw("checked", check ? std::to_string(*check) : std::string("null"));
        }
        json.Raw("rect", RectJson(screen)).Raw("client_rect", RectJson(client));
        WriteLine(json.Done());
    }
    return kExitOk;
}

[[noreturn]] void NoListAnswer() { Fail(kExitNotFound, L"the list view did not answer"); }

// One list-view query through the remote block: copy `item` in, send, copy it back.
template <typename Item>
std::optional<LRESULT> RemoteQuery(const RemoteBuffer& remote, HWND window, UINT message,
                                   WPARAM wParam, Item& item)
{
    static_assert(sizeof(Item) <= kStructSlot);
    if (!remote.Write(0, &item, sizeof(item))) {
        return std::nullopt;
    }
    const auto result = SendWithTimeout(window, message, wParam, static_cast<LPARAM>(remote.Address(0)));
    if (!result || !remote.Read(0, &item, sizeof(item))) {
        return std::nullopt;
    }
    return result;
}

std::optional<std::wstring> RemoteText(const RemoteBuffer& remote, LPWSTR text)
{
    if (!text) {
        return std::wstring();
    }
    return remote.ReadString(reinterpret_cast<std::uintptr_t>(text), kTextChars);
}

// A list cell. Large lists make this the hot path, so the item and the text come back in one
// read: LVM_GETITEMTEXTW answers the length of what it copied into our buffer.
std::optional<std::wstring> CellText(const RemoteBuffer& remote, HWND list, LRESULT row, int subItem)
{
    const auto remoteText = reinterpret_cast<LPWSTR>(remote.Address(kStructSlot));
    LVITEMW item{};
    item.iSubItem = subItem;
    item.pszText = remoteText;
    item.cchTextMax = static_cast<int>(kTextChars);
    if (!remote.Write(0, &item, sizeof(item))) {
        return std::nullopt;
    }
    const auto length = SendWithTimeout(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                                        static_cast<LPARAM>(remote.Address(0)));
    if (!length) {
        NoListAnswer();
    }
    if (*length <= 0) {
        return std::wstring();
    }
    const size_t chars = std::min(static_cast<size_t>(*length), kTextChars - 1);
    std::vector<wchar_t> block((kStructSlot + chars * sizeof(wchar_t)) / sizeof(wchar_t));
    if (!remote.Read(0, block.data(), block.size() * sizeof(wchar_t))) {
        return std::nullopt;
    }
    std::memcpy(&item, block.data(), sizeof(item));
    if (item.pszText != remoteText) {
        // The control pointed us at its own storage instead of filling our buffer.
        return RemoteText(remote, item.pszText);
    }
    const wchar_t* text = block.data() + kStructSlot / sizeof(wchar_t);
    return std::wstring(text, wcsnlen(text, chars));
}

const wchar_t* SortName(int headerFormat)
{
    if (headerFormat & HDF_SORTUP) {
        return L"up";
    }
    if (headerFormat & HDF_SORTDOWN) {
        return L"down";
    }
    return L"none";
}

int CmdList(const Args& args)
{
    HWND top = ResolveWindow(args);
    HWND list = ResolveControl(args, top);
    if (!IsClass(list, WC_LISTVIEWW)) {
        Fail(kExitNotFound, L"control " + args.Text(L"--id") + L" has class " + WindowClass(list) +
                                L", not a list view");
    }
    std::wstring error;
    std::optional<RemoteBuffer> remote = RemoteBuffer::ForWindow(list, kRemoteSize, error);
    if (!remote) {
        Fail(kExitNotFound, error);
    }
    const auto remoteText = reinterpret_cast<LPWSTR>(remote->Address(kStructSlot));

    const HWND header = reinterpret_cast<HWND>(SendWithTimeout(list, LVM_GETHEADER).value_or(0));
    int columnCount = -1;
    if (header) {
        columnCount = static_cast<int>(SendWithTimeout(header, HDM_GETITEMCOUNT).value_or(-1));
    }

    std::vector<int> subItems;
    JsonArray columns;
    for (int column = 0; columnCount < 0 ? column < 1000 : column < columnCount; ++column) {
        LVCOLUMNW lvColumn{};
        lvColumn.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        lvColumn.pszText = remoteText;
        lvColumn.cchTextMax = static_cast<int>(kTextChars);
        const auto got = RemoteQuery(*remote, list, LVM_GETCOLUMNW, column, lvColumn);
        if (!got) {
            NoListAnswer();
        }
        if (!*got) {
            if (columnCount < 0) {
                break; // no header: the columns end where the list view says so
            }
            Fail(kExitNotFound, L"LVM_GETCOLUMNW failed for column " + std::to_wstring(column));
        }
        JsonObject json;
        json.Number("index", column)
            .Raw("title", TextOrNull(RemoteText(*remote, lvColumn.pszText)))
            .Number("width", lvColumn.cx)
            .Number("subitem", lvColumn.iSubItem);

        int format = lvColumn.fmt;
        int order = column;
        if (header) {
            HDITEMW headerItem{};
            headerItem.mask = HDI_FORMAT | HDI_WIDTH | HDI_ORDER;
            const auto hdGot = RemoteQuery(*remote, header, HDM_GETITEMW, column, headerItem);
            if (!hdGot || !*hdGot) {
                Fail(kExitNotFound, L"HDM_GETITEMW failed for column " + std::to_wstring(column));
            }
            format = headerItem.fmt;
            order = headerItem.iOrder;
        }
        const wchar_t* align = (format & HDF_JUSTIFYMASK) == HDF_RIGHT    ? L"right"
                               : (format & HDF_JUSTIFYMASK) == HDF_CENTER ? L"center"
                                                                          : L"left";
        json.Number("fmt", format).String("align", align).String("sort", SortName(format)).Number("order", order);
        columns.Raw(json.Done());
        // A cell is addressed by the column's position; the column's own sub-item field is
        // only set when the program asked for it, and is 0 otherwise.
        subItems.push_back(column);
    }

    const auto rowCount = SendWithTimeout(list, LVM_GETITEMCOUNT);
    if (!rowCount) {
        NoListAnswer();
    }
    JsonArray selection;
    std::set<LRESULT> selectedRows;
    int firstSelected = -1;
    for (LRESULT row = -1;;) {
        const auto next = SendWithTimeout(list, LVM_GETNEXTITEM, static_cast<WPARAM>(row),
                                          MAKELPARAM(LVNI_SELECTED, 0));
        if (!next || *next < 0 || *next <= row) {
            break;
        }
        row = *next;
        if (firstSelected < 0) {
            firstSelected = static_cast<int>(row);
        }
        selection.Number(row);
        selectedRows.insert(row);
    }
    WriteLine(JsonObject()
                  .Raw("columns", columns.Done())
                  .Number("count", *rowCount)
                  .Number("selected", firstSelected)
                  .Raw("selection", selection.Done())
                  .Done());

    for (LRESULT row = 0; row < *rowCount; ++row) {
        JsonArray cells;
        for (const int subItem : subItems) {
            cells.Raw(TextOrNull(CellText(*remote, list, row, subItem)));
        }
        WriteLine(JsonObject()
                      .Number("row", row)
                      .Raw("cells", cells.Done())
                      .Bool("selected", selectedRows.contains(row))
                      .Done());
    }
    return kExitOk;
}

// Target of post/send: the window, or one of its controls with --id.
HWND MessageTarget(const Args& args)
{
    HWND top = ResolveWindow(args);
    return args.Has(L"--id") ? ResolveControl(args, top) : top;
}

UINT MessageNumber(const Args& args)
{
    const long long message = args.Number(L"--msg");
    if (message < 0 || message > static_cast<long long>(UINT_MAX)) {
        Fail(kExitUsage, L"--msg out of range");
    }
    return static_cast<UINT>(message);
}

int CmdPost(const Args& args)
{
    HWND target = MessageTarget(args);
    const UINT message = MessageNumber(args);
    const auto wParam = static_cast<WPARAM>(args.OptionalNumber(L"--wparam").value_or(0));
    const auto lParam = static_cast<LPARAM>(args.OptionalNumber(L"--lparam").value_or(0));
    if (!PostMessageW(target, message, wParam, lParam)) {
        Fail(kExitNotFound, L"PostMessage failed (error " + std::to_wstring(GetLastError()) + L")");
    }
    WriteLine(JsonObject().Bool("posted", true).Number("hwnd", NumberFromHandle(target)).Done());
    return kExitOk;
}

int CmdSend(const Args& args)
{
    HWND target = MessageTarget(args);
    const UINT message = MessageNumber(args);
    const auto wParam = static_cast<WPARAM>(args.OptionalNumber(L"--wparam").value_or(0));
    const auto lParam = static_cast<LPARAM>(args.OptionalNumber(L"--lparam").value_or(0));
    const auto result = SendWithTimeout(target, message, wParam, lParam);
    if (!result) {
        Fail(kExitNotFound, L"SendMessageTimeout failed or timed out (error " +
                                std::to_wstring(GetLastError()) + L")");
    }
    WriteLine(JsonObject().Number("result", *result).Number("hwnd", NumberFromHandle(target)).Done());
    return kExitOk;
}

// A click as the control would report it: WM_COMMAND/BN_CLICKED to its parent. A user cannot
// click a hidden or disabled button, so neither do we unless --force says so.
int CmdClick(const Args& args)
{
    HWND top = ResolveWindow(args);
    HWND control = ResolveControl(args, top);
    if (!args.Flag(L"--force")) {
        if (!IsWindowVisible(control)) {
            Fail(kExitNotFound, L"control " + args.Text(L"--id") + L" is hidden");
        }
        if (!IsWindowEnabled(control)) {
            Fail(kExitNotFound, L"control " + args.Text(L"--id") + L" is disabled");
        }
    }
    HWND parent = GetAncestor(control, GA_PARENT);
    const auto id = static_cast<WORD>(ControlId(control));
    if (!PostMessageW(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control))) {
        Fail(kExitNotFound, L"PostMessage failed (error " + std::to_wstring(GetLastError()) + L")");
    }
    WriteLine(JsonObject()
                  .Bool("posted", true)
                  .Number("hwnd", NumberFromHandle(parent))
                  .Number("control", NumberFromHandle(control))
                  .Done());
    return kExitOk;
}

int CmdSetText(const Args& args)
{
    HWND top = ResolveWindow(args);
    HWND target = args.Has(L"--id") ? ResolveControl(args, top) : top;
    const std::wstring& text = args.Text(L"--text");
    std::optional<LRESULT> result;
    if (IsClass(target, WC_IPADDRESSW)) {
        // The address control ignores WM_SETTEXT; it takes the packed address instead.
        if (text.empty()) {
            result = SendWithTimeout(target, IPM_CLEARADDRESS);
        } else {
            const auto address = ParseDottedAddress(text);
            if (!address) {
                Fail(kExitUsage, Quoted(text) + L" is not a dotted IPv4 address");
            }
            result = SendWithTimeout(target, IPM_SETADDRESS, 0, static_cast<LPARAM>(*address));
        }
    } else {
        result = SendWithTimeout(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        if (result && !*result) {
            Fail(kExitNotFound, L"the control refused the text");
        }
    }
    if (!result) {
        Fail(kExitNotFound, L"the control did not answer");
    }
    WriteLine(JsonObject().Bool("ok", true).Number("hwnd", NumberFromHandle(target)).Done());
    return kExitOk;
}

int CmdRect(const Args& args)
{
    HWND top = ResolveWindow(args);
    HWND target = args.Has(L"--id") ? ResolveControl(args, top) : top;
    RECT rect{};
    if (!GetWindowRect(target, &rect)) {
        Fail(kExitNotFound, L"GetWindowRect failed");
    }
    const long width = rect.right - rect.left;
    const long height = rect.bottom - rect.top;
    WriteLine(JsonObject()
                  .Number("x", rect.left)
                  .Number("y", rect.top)
                  .Number("w", width)
                  .Number("h", height)
                  .Number("cx", rect.left + width / 2)
                  .Number("cy", rect.top + height / 2)
                  .Done());
    return kExitOk;
}

struct Command {
    const wchar_t* name;
    int (*run)(const Args&);
    std::set<std::wstring> values;
    std::set<std::wstring> flags;
};

const std::vector<Command>& Commands()
{
    static const std::vector<Command> commands = {
        {L"wait", CmdWait, {L"--title", L"--hwnd", L"--timeout"}, {}},
        {L"gone", CmdGone, {L"--title", L"--hwnd", L"--timeout"}, {}},
        {L"windows", CmdWindows, {}, {}},
        {L"controls", CmdControls, {L"--title", L"--hwnd"}, {}},
        {L"list", CmdList, {L"--title", L"--hwnd", L"--id"}, {}},
        {L"post", CmdPost, {L"--title", L"--hwnd", L"--id", L"--msg", L"--wparam", L"--lparam"}, {}},
        {L"send", CmdSend, {L"--title", L"--hwnd", L"--id", L"--msg", L"--wparam", L"--lparam"}, {}},
        {L"command", CmdClick, {L"--title", L"--hwnd", L"--id"}, {L"--force"}},
        {L"press", CmdClick, {L"--title", L"--hwnd", L"--id"}, {L"--force"}},
        {L"settext", CmdSetText, {L"--title", L"--hwnd", L"--id", L"--text"}, {}},
        {L"rect", CmdRect, {L"--title", L"--hwnd", L"--id"}, {}},
    };
    return commands;
}

constexpr char kUsage[] =
    "usage: wininspect COMMAND [options]   (--title TEXT may be replaced by --hwnd H)\n"
    "  wait     --title TEXT [--timeout MS]   wait for a visible top-level window\n"
    "  gone     --title TEXT [--timeout MS]   wait until no such top-level window exists\n"
    "  windows                                all visible top-level windows\n"
    "  controls --title TEXT                  every child control, recursively\n"
    "  list     --title TEXT --id N           columns and rows of a list view\n"
    "  post     --title TEXT --msg N [--wparam N] [--lparam N] [--id N]\n"
    "  send     --title TEXT --msg N [--wparam N] [--lparam N] [--id N]\n"
    "  command  --title TEXT --id N [--force] WM_COMMAND/BN_CLICKED from control N\n"
    "  press    --hwnd H --id N [--force]     click button N of a dialog\n"
    "  settext  --title TEXT [--id N] --text S\n"
    "  rect     --title TEXT [--id N]         screen rectangle and centre\n"
    "numbers: decimal or 0x hex. exit: 0 ok, 1 not found or timeout, 2 usage error.\n";

int Run(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const std::wstring name = argv[1];
    if (name == L"--help" || name == L"-h" || name == L"help") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    for (const Command& command : Commands()) {
        if (name == command.name) {
            const Args args(argc, argv, command.values, command.flags);
            return command.run(args);
        }
    }
    Fail(kExitUsage, L"unknown command " + Quoted(name));
}

} // namespace
} // namespace wininspect

int wmain(int argc, wchar_t** argv)
{
    // Binary mode: lines end in \n only, and UTF-8 bytes pass untouched.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    try {
        return wininspect::Run(argc, argv);
    } catch (const wininspect::Failure& failure) {
        const std::string message = "wininspect: " + wininspect::ToUtf8(failure.message) + "\n";
        std::fwrite(message.data(), 1, message.size(), stderr);
        if (failure.exitCode == wininspect::kExitUsage) {
            std::fputs("run 'wininspect --help' for usage\n", stderr);
        }
        return failure.exitCode;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "wininspect: %s\n", error.what());
        return wininspect::kExitNotFound;
    }
}
