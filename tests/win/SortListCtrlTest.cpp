// The sortable device list on a real report-view list control: rows and their copies, header
// clicks (as the list reports them to its parent, and as a mouse click on the header makes
// them), the sort arrow, renumbering, the firmware order, saved column widths and the release of
// every row's copy.
#include "controls/SortListCtrl.h"
#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "TestResource.h"
#include "WindowTestSupport.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kColumns = CSortListCtrl::kDeviceListColumns;
constexpr int kInitialWidth = 40;
// Which row is which after a sort: column 0 is renumbered, so rows carry a tag in column 1.
constexpr int kTagColumn = 1;
constexpr int kFirmwareColumn = CSortListCtrl::kFirmwareColumn;

class ListDialog : public fw::CDialog {
public:
    explicit ListDialog(bool attachList = true) : CDialog(IDD_TEST_LIST), m_attachList(attachList)
    {}

    CSortListCtrl m_list;
    // The item parameter of every row as the control deletes it.
    std::vector<LPARAM> m_deletedParams;

protected:
    void DoDataExchange(fw::CDataExchange* dx) override
    {
        if (m_attachList)
            fw::DDX_Control(dx, IDC_TEST_LIST, m_list);
    }
    void OnDeleteItem(NMHDR* header, LRESULT* result)
    {
        m_deletedParams.push_back(reinterpret_cast<const NMLISTVIEW*>(header)->lParam);
        *result = 0;
    }

    DECLARE_MESSAGE_MAP()

private:
    bool m_attachList;
};

BEGIN_MESSAGE_MAP(ListDialog, fw::CDialog)
    ON_NOTIFY(LVN_DELETEITEM, IDC_TEST_LIST, OnDeleteItem)
END_MESSAGE_MAP()

// The cells read straight from the control, not through the class under test.
std::wstring CellOf(HWND list, int row, int column)
{
    wchar_t text[256] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = ARRAYSIZE(text);
    ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(&item));
    return text;
}

LPARAM ParamOf(HWND list, int row)
{
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    ::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam;
}

int RowCountOf(HWND list)
{
    return static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

// Fifteen cells: the arrival number, the tag, the given cells and "-" elsewhere.
std::vector<std::wstring> RowTexts(int arrival, const std::wstring& tag,
                                   const std::vector<std::pair<int, std::wstring>>& cells = {})
{
    std::vector<std::wstring> texts(kColumns, L"-");
    texts[0] = std::to_wstring(arrival);
    texts[kTagColumn] = tag;
    for (const auto& [column, text] : cells)
        texts[static_cast<size_t>(column)] = text;
    return texts;
}

class SortList : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dialog.Create(IDD_TEST_LIST, nullptr));
        for (int i = 0; i < kColumns; ++i) {
            const std::wstring heading = L"Column " + std::to_wstring(i);
            ASSERT_EQ(List().InsertColumn(i, heading.c_str(), LVCFMT_LEFT, kInitialWidth), i);
        }
        List().m_columnCount = kColumns;
    }
    void TearDown() override
    {
        m_dialog.DestroyWindow();
        test::PumpMessages(nullptr);
        ::DeleteFileW(fw::CWinApp::Current()->ProfilePath().c_str());
    }

    CSortListCtrl& List() { return m_dialog.m_list; }
    HWND ListWindow() const { return m_dialog.m_list.m_hWnd; }
    HWND HeaderWindow() const
    {
        return reinterpret_cast<HWND>(::SendMessageW(ListWindow(), LVM_GETHEADER, 0, 0));
    }

    // Adds rows tagged with the given names, with `values` in `column`, in this order.
    void AddRows(const std::vector<std::wstring>& tags, int column,
                 const std::vector<std::wstring>& values)
    {
        ASSERT_EQ(tags.size(), values.size());
        for (size_t i = 0; i < tags.size(); ++i) {
            const int arrival = static_cast<int>(i) + 1;
            ASSERT_EQ(List().AddRow(RowTexts(arrival, tags[i], {{column, values[i]}})),
                      static_cast<int>(i));
        }
    }

    std::vector<std::wstring> ColumnTexts(int column) const
    {
        std::vector<std::wstring> texts;
        for (int row = 0; row < RowCountOf(ListWindow()); ++row)
            texts.push_back(CellOf(ListWindow(), row, column));
        return texts;
    }

    // What the list reports to its parent when a header item is clicked.
    void ClickColumn(int column) const
    {
        NMLISTVIEW click{};
        click.hdr.hwndFrom = ListWindow();
        click.hdr.idFrom = IDC_TEST_LIST;
        click.hdr.code = LVN_COLUMNCLICK;
        click.iItem = -1;
        click.iSubItem = column;
        m_dialog.SendMessage(WM_NOTIFY, IDC_TEST_LIST, reinterpret_cast<LPARAM>(&click));
    }

    // Per header item: HDF_SORTUP, HDF_SORTDOWN or 0.
    std::vector<int> ArrowFlags() const
    {
        std::vector<int> flags;
        const int count = static_cast<int>(::SendMessageW(HeaderWindow(), HDM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            HDITEMW item{};
            item.mask = HDI_FORMAT;
            ::SendMessageW(HeaderWindow(), HDM_GETITEMW, static_cast<WPARAM>(i),
                           reinterpret_cast<LPARAM>(&item));
            flags.push_back(item.fmt & (HDF_SORTUP | HDF_SORTDOWN));
        }
        return flags;
    }
    static std::vector<int> ArrowOn(int column, int flag)
    {
        std::vector<int> flags(kColumns, 0);
        flags[static_cast<size_t>(column)] = flag;
        return flags;
    }

    std::vector<int> Widths() const
    {
        std::vector<int> widths;
        for (int i = 0; i < kColumns; ++i) {
            HDITEMW item{};
            item.mask = HDI_WIDTH;
            ::SendMessageW(HeaderWindow(), HDM_GETITEMW, static_cast<WPARAM>(i),
                           reinterpret_cast<LPARAM>(&item));
            widths.push_back(item.cxy);
        }
        return widths;
    }

    // Column 0 reads 1, 2, 3 ... and each row's copy of it agrees.
    void ExpectNumberedFromTheTop() const
    {
        for (int row = 0; row < RowCountOf(ListWindow()); ++row) {
            EXPECT_EQ(CellOf(ListWindow(), row, 0), std::to_wstring(row + 1)) << "row " << row;
            const auto* data = reinterpret_cast<const RowData*>(ParamOf(ListWindow(), row));
            ASSERT_NE(data, nullptr);
            EXPECT_EQ(data->texts[0], std::to_wstring(row + 1)) << "row " << row;
        }
    }

    ListDialog m_dialog;
};

TEST_F(SortList, TakesOverItsHeader)
{
    ASSERT_NE(HeaderWindow(), nullptr);
    EXPECT_EQ(fw::CWnd::FromHandlePermanent(HeaderWindow()), &List().m_header);
}

TEST_F(SortList, AddRowShowsEveryCellAndKeepsItsOwnCopy)
{
    const std::vector<std::wstring> first =
        RowTexts(1, L"alpha", {{2, L"IPC-300"}, {kFirmwareColumn, L"4.1.46.5"}, {14, L"last"}});
    const std::vector<std::wstring> second = RowTexts(2, L"beta", {{4, L"10.77.0.9"}});
    EXPECT_EQ(List().AddRow(first), 0);
    EXPECT_EQ(List().AddRow(second), 1);

    ASSERT_EQ(RowCountOf(ListWindow()), 2);
    for (int row = 0; row < 2; ++row) {
        const std::vector<std::wstring>& texts = row == 0 ? first : second;
        for (int column = 0; column < kColumns; ++column)
            EXPECT_EQ(CellOf(ListWindow(), row, column), texts[static_cast<size_t>(column)])
                << "row " << row << " column " << column;
        const auto* data = reinterpret_cast<const RowData*>(ParamOf(ListWindow(), row));
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(data->texts, texts);
    }
    EXPECT_NE(ParamOf(ListWindow(), 0), ParamOf(ListWindow(), 1));
}

TEST_F(SortList, AddRowRefusesAWrongNumberOfTexts)
{
    for (size_t count : {size_t{0}, size_t{1}, size_t{kColumns - 1}, size_t{kColumns + 1}}) {
        EXPECT_EQ(List().AddRow(std::vector<std::wstring>(count, L"x")), -1) << count;
        EXPECT_EQ(RowCountOf(ListWindow()), 0) << count;
    }
    // A list whose columns were never set up takes no row at all.
    List().m_columnCount = 0;
    EXPECT_EQ(List().AddRow({}), -1);
    EXPECT_EQ(RowCountOf(ListWindow()), 0);
}

TEST_F(SortList, RemoveAllRowsTakesEveryCopyOffBeforeTheRowsGoAndKeepsTheSortState)
{
    AddRows({L"a", L"b", L"c"}, 2, {L"z", L"y", L"x"});
    ClickColumn(2);
    m_dialog.m_deletedParams.clear();

    List().RemoveAllRows();
    EXPECT_EQ(RowCountOf(ListWindow()), 0);
    // Each row reached the control's deletion with its parameter already 0: the list had freed
    // its copy and left nothing behind that could be freed again.
    EXPECT_EQ(m_dialog.m_deletedParams, std::vector<LPARAM>(3, 0));

    EXPECT_EQ(List().m_sortColumn, 2);
    EXPECT_TRUE(List().m_sortAscending);
    EXPECT_EQ(ArrowFlags(), ArrowOn(2, HDF_SORTUP));

    // New rows arrive unsorted, in arrival order, until the next click.
    AddRows({L"d", L"e"}, 2, {L"q", L"p"});
    EXPECT_EQ(ColumnTexts(kTagColumn), (std::vector<std::wstring>{L"d", L"e"}));
}

TEST_F(SortList, ClickOnTheNumberColumnChangesNothing)
{
    // Numbers no renumbering would write, so that one would show.
    const std::vector<std::wstring> tags{L"a", L"b", L"c"};
    for (size_t i = 0; i < tags.size(); ++i) {
        std::vector<std::wstring> texts = RowTexts(1, tags[i], {{2, tags[i]}});
        texts[0] = L"n";
        ASSERT_EQ(List().AddRow(texts), static_cast<int>(i));
    }

    ClickColumn(0);
    EXPECT_EQ(ColumnTexts(kTagColumn), (std::vector<std::wstring>{L"a", L"b", L"c"}));
    EXPECT_EQ(ColumnTexts(0), (std::vector<std::wstring>(3, L"n")));
    EXPECT_EQ(ArrowFlags(), std::vector<int>(kColumns, 0));
    EXPECT_EQ(List().m_sortColumn, -1);
    EXPECT_TRUE(List().m_sortAscending);
}

TEST_F(SortList, FirstClickSortsAscendingTheNextTogglesAnotherColumnStartsAscending)
{
    // Column 2 ranks the rows C, A, B; column 5 ranks them B, A, C.
    ASSERT_EQ(List().AddRow(RowTexts(1, L"A", {{2, L"b"}, {5, L"2"}})), 0);
    ASSERT_EQ(List().AddRow(RowTexts(2, L"B", {{2, L"c"}, {5, L"1"}})), 1);
    ASSERT_EQ(List().AddRow(RowTexts(3, L"C", {{2, L"a"}, {5, L"3"}})), 2);

    struct Step {
        int column;
        bool ascending;
        std::vector<std::wstring> tags;
    };
    const Step steps[] = {
        {2, true, {L"C", L"A", L"B"}},  {2, false, {L"B", L"A", L"C"}},
        {2, true, {L"C", L"A", L"B"}},  {5, true, {L"B", L"A", L"C"}},
        {2, true, {L"C", L"A", L"B"}},  {5, true, {L"B", L"A", L"C"}},
        {5, false, {L"C", L"A", L"B"}},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        const Step& step = steps[i];
        SCOPED_TRACE("click " + std::to_string(i + 1) + " on column " +
                     std::to_string(step.column));
        ClickColumn(step.column);
        EXPECT_EQ(List().m_sortColumn, step.column);
        EXPECT_EQ(List().m_sortAscending, step.ascending);
        EXPECT_EQ(ColumnTexts(kTagColumn), step.tags);
        EXPECT_EQ(ArrowFlags(), ArrowOn(step.column, step.ascending ? HDF_SORTUP : HDF_SORTDOWN));
        ExpectNumberedFromTheTop();
    }
}

TEST_F(SortList, ClickOnTheHeaderItselfSorts)
{
    AddRows({L"A", L"B", L"C"}, 2, {L"b", L"c", L"a"});
    RECT item{};
    ASSERT_TRUE(
        ::SendMessageW(HeaderWindow(), HDM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&item)));
    const LPARAM centre = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    ::SendMessageW(HeaderWindow(), WM_LBUTTONDOWN, MK_LBUTTON, centre);
    ::SendMessageW(HeaderWindow(), WM_LBUTTONUP, 0, centre);

    EXPECT_EQ(ColumnTexts(kTagColumn), (std::vector<std::wstring>{L"C", L"A", L"B"}));
    EXPECT_EQ(ArrowFlags(), ArrowOn(2, HDF_SORTUP));
    ExpectNumberedFromTheTop();
}

TEST_F(SortList, NumbersAndAddressesSortAsText)
{
    struct Case {
        int column;
        std::vector<std::wstring> arrival;
        std::vector<std::wstring> ascending;
    };
    const Case cases[] = {
        // A port or channel count of 10 comes before 9.
        {6, {L"9", L"10", L"80", L"554"}, {L"10", L"554", L"80", L"9"}},
        {4,
         {L"10.77.0.9", L"10.77.0.10", L"10.77.0.100", L"10.77.0.1"},
         {L"10.77.0.1", L"10.77.0.10", L"10.77.0.100", L"10.77.0.9"}},
        // Locale order: letters before case, lower case first.
        {2, {L"b", L"B", L"a", L"A"}, {L"a", L"A", L"b", L"B"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("column " + std::to_string(c.column));
        List().RemoveAllRows();
        std::vector<std::wstring> tags;
        for (size_t i = 0; i < c.arrival.size(); ++i)
            tags.push_back(L"t" + std::to_wstring(i));
        AddRows(tags, c.column, c.arrival);

        ClickColumn(c.column);
        EXPECT_EQ(ColumnTexts(c.column), c.ascending);
        ClickColumn(c.column);
        EXPECT_EQ(ColumnTexts(c.column),
                  std::vector<std::wstring>(c.ascending.rbegin(), c.ascending.rend()));
        ExpectNumberedFromTheTop();
    }
}

TEST_F(SortList, FirmwareSortsByVersionNumberAndEqualKeysStayTogether)
{
    // As text, 4.1.46.5 would come before 4.1.9.5 and 12 after all of them.
    AddRows({L"A", L"B", L"C", L"D", L"E", L"F"}, kFirmwareColumn,
            {L"4.1.9.5", L"4.1.46.5", L"4.1.256.0", L"12", L"4.1.1.0", L"4.1.0.0"});

    // 4.1.256.0 keeps only the low byte of 256 and ranks with 4.1.0.0; which of the two comes
    // first is the sort's business, but nothing comes between them.
    auto expectOrder = [this](const std::vector<std::wstring>& expected, size_t tiedAt) {
        std::vector<std::wstring> tags = ColumnTexts(kTagColumn);
        ASSERT_EQ(tags.size(), expected.size());
        std::vector<std::wstring> tied{tags[tiedAt], tags[tiedAt + 1]};
        std::sort(tied.begin(), tied.end());
        EXPECT_EQ(tied, (std::vector<std::wstring>{L"C", L"F"}));
        tags[tiedAt] = tags[tiedAt + 1] = L"C|F";
        EXPECT_EQ(tags, expected);
    };

    ClickColumn(kFirmwareColumn);
    expectOrder({L"D", L"C|F", L"C|F", L"E", L"A", L"B"}, 1);
    ExpectNumberedFromTheTop();

    ClickColumn(kFirmwareColumn);
    expectOrder({L"B", L"A", L"E", L"C|F", L"C|F", L"D"}, 3);
    ExpectNumberedFromTheTop();
}

TEST_F(SortList, SortingAnEmptyListOnlyMovesTheArrow)
{
    ClickColumn(4);
    EXPECT_EQ(RowCountOf(ListWindow()), 0);
    EXPECT_EQ(ArrowFlags(), ArrowOn(4, HDF_SORTUP));
    ClickColumn(4);
    EXPECT_EQ(ArrowFlags(), ArrowOn(4, HDF_SORTDOWN));
    ClickColumn(kFirmwareColumn);
    EXPECT_EQ(RowCountOf(ListWindow()), 0);
    EXPECT_EQ(ArrowFlags(), ArrowOn(kFirmwareColumn, HDF_SORTUP));
}

TEST_F(SortList, RestoreColumnWidthsAppliesOnlyAWholeEntryForThisListsColumns)
{
    const std::wstring ownEntry = std::to_wstring(IDC_TEST_LIST);
    std::vector<std::int32_t> savedWidths;
    for (int i = 0; i < kColumns; ++i)
        savedWidths.push_back(20 + 5 * i);
    auto entry = [&savedWidths](std::int32_t count, size_t widths) {
        std::vector<std::int32_t> values{count};
        for (size_t i = 0; i < widths; ++i)
            values.push_back(i < savedWidths.size() ? savedWidths[i] : 99);
        return values;
    };
    const std::vector<int> unchanged(kColumns, kInitialWidth);
    const std::vector<int> restored(savedWidths.begin(), savedWidths.end());

    struct Case {
        const char* what;
        std::wstring name; // empty: no entry at all
        std::vector<std::int32_t> values;
        size_t bytesCut;
        std::vector<int> widths;
    };
    const Case cases[] = {
        {"no entry", L"", {}, 0, unchanged},
        {"another list's entry", L"1000", entry(kColumns, kColumns), 0, unchanged},
        {"fewer columns", ownEntry, entry(kColumns - 1, kColumns - 1), 0, unchanged},
        {"more columns", ownEntry, entry(kColumns + 1, kColumns + 1), 0, unchanged},
        {"count above the widths", ownEntry, entry(kColumns, kColumns - 1), 0, unchanged},
        {"last width cut short", ownEntry, entry(kColumns, kColumns), 2, unchanged},
        {"count cut short", ownEntry, entry(kColumns, 0), 2, unchanged},
        {"count only", ownEntry, entry(kColumns, 0), 0, unchanged},
        {"whole entry", ownEntry, entry(kColumns, kColumns), 0, restored},
    };
    const std::wstring profile = fw::CWinApp::Current()->ProfilePath();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::WritePrivateProfileStringW(L"ListCtrls", nullptr, nullptr, profile.c_str());
        for (int i = 0; i < kColumns; ++i)
            ASSERT_TRUE(::SendMessageW(ListWindow(), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(i),
                                       kInitialWidth));
        if (!c.name.empty()) {
            std::vector<std::uint8_t> bytes(c.values.size() * sizeof(std::int32_t));
            std::memcpy(bytes.data(), c.values.data(), bytes.size());
            bytes.resize(bytes.size() - c.bytesCut);
            ASSERT_TRUE(::WritePrivateProfileStructW(L"ListCtrls", c.name.c_str(), bytes.data(),
                                                     static_cast<UINT>(bytes.size()),
                                                     profile.c_str()));
        }
        List().m_columnCount = 0;

        List().RestoreColumnWidths();
        EXPECT_EQ(List().m_columnCount, kColumns);
        EXPECT_EQ(Widths(), c.widths);
    }
}

TEST_F(SortList, DestroyingTheWindowFreesEveryRowsCopy)
{
    AddRows({L"a", L"b", L"c"}, 2, {L"z", L"y", L"x"});
    ClickColumn(2);
    m_dialog.m_deletedParams.clear();

    m_dialog.DestroyWindow();
    EXPECT_EQ(List().m_hWnd, nullptr);
    EXPECT_EQ(List().m_header.m_hWnd, nullptr);
    // The control let go of its rows only after the list had taken its copies off them.
    EXPECT_EQ(m_dialog.m_deletedParams, std::vector<LPARAM>(3, 0));
}

// The framework's reading of a cell, which the main window uses to copy the clicked row.
TEST_F(SortList, ListReadsCellsOfAnyLength)
{
    const std::wstring lengths[] = {L"", std::wstring(62, L'a'), std::wstring(63, L'b'),
                                    std::wstring(64, L'c'), std::wstring(200, L'd')};
    for (const std::wstring& text : lengths) {
        List().RemoveAllRows();
        ASSERT_EQ(List().AddRow(RowTexts(1, L"t", {{7, text}})), 0);
        EXPECT_EQ(List().GetItemText(0, 7), text) << text.size();
    }
    EXPECT_EQ(List().GetItemText(5, 7), L"") << "a row that does not exist";
}

TEST(SortListObject, GoingBeforeItsWindowFreesTheRowsCopies)
{
    ListDialog dialog(false);
    ASSERT_TRUE(dialog.Create(IDD_TEST_LIST, nullptr));
    const HWND window = dialog.GetDlgItem(IDC_TEST_LIST).m_hWnd;
    {
        CSortListCtrl list;
        ASSERT_TRUE(list.SubclassWindow(window));
        for (int i = 0; i < kColumns; ++i)
            list.InsertColumn(i, L"c");
        list.m_columnCount = kColumns;
        ASSERT_EQ(list.AddRow(RowTexts(1, L"a")), 0);
        ASSERT_EQ(list.AddRow(RowTexts(2, L"b")), 1);
        ASSERT_NE(ParamOf(window, 0), 0);
    }
    ASSERT_EQ(RowCountOf(window), 2);
    EXPECT_EQ(ParamOf(window, 0), 0);
    EXPECT_EQ(ParamOf(window, 1), 0);
    dialog.DestroyWindow();
    test::PumpMessages(nullptr);
}

} // namespace
