#include "SortListCtrl.h"

#include "VersionKey.h"
#include "framework/WinApp.h"

#include <memory>

namespace {

// Widths are stored as the x86 writes them: little-endian 32-bit values.
std::int32_t ReadInt32(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    const std::uint32_t value =
        std::uint32_t{bytes[offset]} | std::uint32_t{bytes[offset + 1]} << 8 |
        std::uint32_t{bytes[offset + 2]} << 16 | std::uint32_t{bytes[offset + 3]} << 24;
    return static_cast<std::int32_t>(value);
}

const std::wstring& CellText(LPARAM row, int column)
{
    // A row without a copy, or a header column beyond the rows' texts, sorts as empty.
    static const std::wstring kEmpty;
    const auto* data = reinterpret_cast<const RowData*>(row);
    if (data == nullptr || column < 0 || static_cast<std::size_t>(column) >= data->texts.size())
        return kEmpty;
    return data->texts[static_cast<std::size_t>(column)];
}

} // namespace

void CSortHeaderCtrl::ShowSortArrow(int column, bool ascending) const
{
    const int count = GetItemCount();
    for (int i = 0; i < count; ++i) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        if (GetItem(i, item)) {
            item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
            SetItem(i, item);
        }
    }
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    if (GetItem(column, item)) {
        item.fmt |= ascending ? HDF_SORTUP : HDF_SORTDOWN;
        SetItem(column, item);
    }
    Invalidate(TRUE);
}

bool CSortHeaderCtrl::LoadWidths(std::span<const std::uint8_t> saved) const
{
    constexpr std::size_t kFieldSize = 4;
    if (saved.size() < kFieldSize)
        return false;
    const std::int32_t count = ReadInt32(saved, 0);
    if (count != GetItemCount() || count < 0)
        return false;
    // Check the whole length first, so a cut-off entry cannot leave half the widths applied.
    if ((saved.size() - kFieldSize) / kFieldSize < static_cast<std::size_t>(count))
        return false;
    for (int i = 0; i < count; ++i) {
        HDITEMW item{};
        item.mask = HDI_WIDTH;
        item.cxy = ReadInt32(saved, kFieldSize * (1 + static_cast<std::size_t>(i)));
        SetItem(i, item);
    }
    return true;
}

BEGIN_MESSAGE_MAP(CSortListCtrl, fw::CListCtrl)
    ON_NOTIFY_REFLECT(LVN_COLUMNCLICK, OnColumnClick)
    ON_WM_DESTROY()
END_MESSAGE_MAP()

CSortListCtrl::~CSortListCtrl()
{
    // Normally WM_DESTROY has freed the copies already. An object that goes before its window
    // gives the window back to the system's list procedure, which would never free them.
    if (m_hWnd != nullptr)
        ReleaseRows();
}

void CSortListCtrl::PreSubclassWindow()
{
    CListCtrl::PreSubclassWindow();
    m_header.SubclassWindow(GetHeaderCtrl().m_hWnd);
}

int CSortListCtrl::AddRow(const std::vector<std::wstring>& texts)
{
    if (m_columnCount < 1 || texts.size() != static_cast<std::size_t>(m_columnCount))
        return -1;
    auto row = std::make_unique<RowData>();
    row->texts = texts;

    const int index = InsertItem(GetItemCount(), texts[0].c_str());
    if (index < 0)
        return -1;
    for (int i = 1; i < m_columnCount; ++i)
        SetItemText(index, i, texts[static_cast<std::size_t>(i)].c_str());
    if (!SetItemData(index, reinterpret_cast<DWORD_PTR>(row.get()))) {
        DeleteItem(index);
        return -1;
    }
    row.release(); // the row owns it now
    return index;
}

void CSortListCtrl::RemoveAllRows()
{
    ReleaseRows();
    DeleteAllItems();
}

void CSortListCtrl::RestoreColumnWidths()
{
    m_columnCount = kDeviceListColumns;
    const fw::CWinApp* app = fw::CWinApp::Current();
    if (app == nullptr)
        return;
    // The tool never writes this entry; it only honours one that is there.
    const std::wstring entry = std::to_wstring(GetDlgCtrlID());
    const std::vector<std::uint8_t> saved = app->GetProfileBinary(L"ListCtrls", entry.c_str());
    if (saved.empty())
        return;
    m_header.LoadWidths(saved);
    m_header.Invalidate(TRUE);
}

void CSortListCtrl::OnColumnClick(NMHDR* header, LRESULT* result)
{
    *result = 0;
    const int column = reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem;
    // The first column is the row number, which is never sorted.
    if (column == 0)
        return;
    const bool ascending = column != m_sortColumn || !m_sortAscending;
    m_sortColumn = column;
    m_sortAscending = ascending;
    m_header.ShowSortArrow(column, ascending);
    SortItems(&CSortListCtrl::CompareRows, reinterpret_cast<DWORD_PTR>(this));
    Renumber();
}

int CALLBACK CSortListCtrl::CompareRows(LPARAM first, LPARAM second, LPARAM list)
{
    const auto& self = *reinterpret_cast<const CSortListCtrl*>(list);
    const int column = self.m_sortColumn;
    const std::wstring& s1 = CellText(first, column);
    const std::wstring& s2 = CellText(second, column);
    if (column == kFirmwareColumn) {
        // Only "after" (1) or "not after" (0): the control's sort needs no more to order rows,
        // and rows with equal keys keep their order.
        const std::uint32_t k1 = VersionKey(s1);
        const std::uint32_t k2 = VersionKey(s2);
        if (self.m_sortAscending)
            return k2 < k1 ? 1 : 0;
        return k1 < k2 ? 1 : 0;
    }
    // Ports, channels and addresses sort as text too, so "10" comes before "9".
    if (self.m_sortAscending)
        return ::lstrcmpW(s1.c_str(), s2.c_str());
    return ::lstrcmpW(s2.c_str(), s1.c_str());
}

void CSortListCtrl::OnDestroy()
{
    ReleaseRows();
    CListCtrl::OnDestroy();
}

RowData* CSortListCtrl::Row(int index) const
{
    return reinterpret_cast<RowData*>(GetItemData(index));
}

void CSortListCtrl::ReleaseRows()
{
    for (int i = 0; i < GetItemCount(); ++i) {
        // Off the row first: a row must never point at a freed copy, even if the control
        // refused the change (then the copy is left to leak rather than be freed twice).
        RowData* row = Row(i);
        if (row != nullptr && SetItemData(i, 0))
            delete row;
    }
}

void CSortListCtrl::Renumber()
{
    for (int i = 0; i < GetItemCount(); ++i) {
        const std::wstring number = std::to_wstring(i + 1);
        if (!SetItemText(i, 0, number.c_str()))
            continue;
        RowData* row = Row(i);
        if (row != nullptr && !row->texts.empty())
            row->texts[0] = number;
    }
}
