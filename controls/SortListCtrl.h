// The device list: a report-view list that keeps its own copy of every cell, sorts its rows when
// a column header is clicked (ascending first, then toggling), shows the direction with the
// header's sort arrow and numbers the rows again after each sort. Its header control can take
// saved column widths from the application profile.
#pragma once

#include "framework/ListCtrl.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class CSortHeaderCtrl : public fw::CHeaderCtrl {
public:
    // Marks `column` with the arrow for the direction and takes it off every other column.
    void ShowSortArrow(int column, bool ascending) const;

    // Loads column widths saved as a 32-bit item count followed by one 32-bit width per item,
    // little-endian. A count other than the header's, or fewer widths than the count promises,
    // leaves every width as it was; returns whether the widths were set.
    bool LoadWidths(std::span<const std::uint8_t> saved) const;
};

// The copy of one row's cell texts, attached to the row as its item parameter. The list owns it:
// made by AddRow, freed by RemoveAllRows or when the list window goes.
struct RowData {
    std::vector<std::wstring> texts; // index = column; entry 0 follows the row's number
};

class CSortListCtrl : public fw::CListCtrl {
public:
    CSortListCtrl() = default;
    ~CSortListCtrl() override;

    // Appends a row with one text per column, m_columnCount of them; returns its index, or -1
    // when the count is wrong or the control refuses the row (then nothing is kept).
    int AddRow(const std::vector<std::wstring>& texts);
    // Frees the rows' copies, then deletes the rows. The sort state stays.
    void RemoveAllRows();
    // Sets the device list's column count and applies the widths saved in the profile under
    // "ListCtrls", entry = this control's identifier. Call it after the columns are inserted.
    void RestoreColumnWidths();

    // Comparison for the control's own sort: `first` and `second` are rows' RowData, `list` is
    // the list being sorted. Reads only the copies, never the control.
    static int CALLBACK CompareRows(LPARAM first, LPARAM second, LPARAM list);

    CSortHeaderCtrl m_header;
    int m_columnCount = 0;
    int m_sortColumn = -1;
    bool m_sortAscending = true;

    // The device list's Firmware Version column, which sorts by version number.
    static constexpr int kFirmwareColumn = 3;
    static constexpr int kDeviceListColumns = 15;

protected:
    void PreSubclassWindow() override;
    void OnColumnClick(NMHDR* header, LRESULT* result);
    void OnDestroy();

    DECLARE_MESSAGE_MAP()

private:
    RowData* Row(int index) const;
    // Takes every RowData off its row and frees it; the rows themselves stay.
    void ReleaseRows();
    void Renumber();
};
