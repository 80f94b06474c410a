// The list-view control and its header control.
#pragma once

#include "Wnd.h"

#include <commctrl.h>

#include <string>

namespace fw {

class CHeaderCtrl : public CWnd {
public:
    int GetItemCount() const { return static_cast<int>(SendMessage(HDM_GETITEMCOUNT)); }
    // Reads the fields that item.mask names.
    BOOL GetItem(int index, HDITEMW& item) const
    {
        return static_cast<BOOL>(
            SendMessage(HDM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
    }
    // Writes the fields that item.mask names.
    BOOL SetItem(int index, const HDITEMW& item) const
    {
        return static_cast<BOOL>(
            SendMessage(HDM_SETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
    }
};

class CListCtrl : public CWnd {
public:
    int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }

    // Inserts an item with text only; returns its index, or -1.
    int InsertItem(int index, const wchar_t* text) const
    {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = index;
        item.pszText = const_cast<wchar_t*>(text);
        return static_cast<int>(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    }
    BOOL SetItemText(int index, int subItem, const wchar_t* text) const
    {
        LVITEMW item{};
        item.iSubItem = subItem;
        item.pszText = const_cast<wchar_t*>(text);
        return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTW, static_cast<WPARAM>(index),
                                             reinterpret_cast<LPARAM>(&item)));
    }
    // The control copies at most the buffer's size and says how much it copied, so the buffer
    // grows until the text fits with room to spare.
    std::wstring GetItemText(int index, int subItem) const
    {
        std::wstring text(64, L'\0');
        for (;;) {
            LVITEMW item{};
            item.iSubItem = subItem;
            item.pszText = text.data();
            item.cchTextMax = static_cast<int>(text.size());
            const auto length = static_cast<size_t>(SendMessage(
                LVM_GETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
            if (length + 1 < text.size()) {
                text.resize(length);
                return text;
            }
            text.resize(text.size() * 2);
        }
    }
    // The item's parameter (lParam), which the control hands to sort callbacks.
    BOOL SetItemData(int index, DWORD_PTR data) const
    {
        LVITEMW item{};
        item.mask = LVIF_PARAM;
        item.iItem = index;
        item.lParam = static_cast<LPARAM>(data);
        return static_cast<BOOL>(SendMessage(LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    }
    // 0 for an item that does not exist.
    DWORD_PTR GetItemData(int index) const
    {
        LVITEMW item{};
        item.mask = LVIF_PARAM;
        item.iItem = index;
        if (!SendMessage(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
            return 0;
        return static_cast<DWORD_PTR>(item.lParam);
    }
    BOOL DeleteItem(int index) const
    {
        return static_cast<BOOL>(SendMessage(LVM_DELETEITEM, static_cast<WPARAM>(index)));
    }
    BOOL DeleteAllItems() const { return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS)); }
    // Sorts with `compare`, which receives the two items' parameters and `data`.
    BOOL SortItems(PFNLVCOMPARE compare, DWORD_PTR data) const
    {
        return static_cast<BOOL>(SendMessage(LVM_SORTITEMS, static_cast<WPARAM>(data),
                                             reinterpret_cast<LPARAM>(compare)));
    }
    // Fills in the item and flags at info.pt (client coordinates); returns the item or -1.
    int HitTest(LVHITTESTINFO& info) const
    {
        return static_cast<int>(SendMessage(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&info)));
    }

    // The header window of a report-view list.
    CWindow GetHeaderCtrl() const
    {
        return CWindow(reinterpret_cast<HWND>(SendMessage(LVM_GETHEADER)));
    }
    // Returns the column's index, or -1.
    int InsertColumn(int index, const wchar_t* heading, int format = LVCFMT_LEFT,
                     int width = -1) const
    {
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_TEXT | (width >= 0 ? LVCF_WIDTH : 0);
        column.fmt = format;
        column.cx = width;
        column.pszText = const_cast<wchar_t*>(heading);
        return static_cast<int>(SendMessage(LVM_INSERTCOLUMNW, static_cast<WPARAM>(index),
                                            reinterpret_cast<LPARAM>(&column)));
    }
    int GetColumnWidth(int column) const
    {
        return static_cast<int>(SendMessage(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column)));
    }
    // Sets the extended styles (LVS_EX_...) in `mask` to those in `style`; returns the old ones.
    DWORD SetExtendedStyle(DWORD style, DWORD mask = 0) const
    {
        return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, mask, style));
    }
    DWORD GetExtendedStyle() const
    {
        return static_cast<DWORD>(SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE));
    }
};

} // namespace fw
