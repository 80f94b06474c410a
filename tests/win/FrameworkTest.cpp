// The framework layer on a small dialog of its own: message maps, reflection, data exchange,
// attaching and detaching, threads, message boxes and the profile.
#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "framework/Thread.h"
#include "framework/WinApp.h"
#include "TestResource.h"
#include "WindowTestSupport.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <atomic>
#include <cstdint>
#include <cstring>

namespace {

class ColourLabel : public fw::CStatic {
public:
    HBRUSH m_brush = reinterpret_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH));
    int m_requests = 0;

    HBRUSH CtlColor(HDC, UINT kind)
    {
        ++m_requests;
        m_lastKind = kind;
        return m_brush;
    }
    UINT m_lastKind = 0;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ColourLabel, fw::CStatic)
    ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

class TestDialog : public fw::CDialog {
public:
    TestDialog() : CDialog(IDD_TEST) {}

    std::wstring m_text = L"hello";
    int m_checked = 1;
    DWORD m_address = 0x0A000001;
    ColourLabel m_label;
    int m_clicks = 0;
    bool m_parentAnswersColours = false;
    HBRUSH m_parentBrush = reinterpret_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));

protected:
    void DoDataExchange(fw::CDataExchange* dx) override
    {
        fw::DDX_Text(dx, IDC_TEST_EDIT, m_text);
        fw::DDX_Check(dx, IDC_TEST_CHECK, m_checked);
        fw::DDX_IPAddress(dx, IDC_TEST_ADDRESS, m_address);
        fw::DDX_Control(dx, IDC_TEST_LABEL, m_label);
    }
    void OnPress() { ++m_clicks; }
    LRESULT OnSum(WPARAM a, LPARAM b) { return static_cast<LRESULT>(a) + b; }
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind)
    {
        if (m_parentAnswersColours)
            return m_parentBrush;
        return CDialog::OnCtlColor(dc, control, kind);
    }

    DECLARE_MESSAGE_MAP()
};

constexpr UINT kSumMessage = WM_APP + 7;

BEGIN_MESSAGE_MAP(TestDialog, fw::CDialog)
    ON_BN_CLICKED(IDC_TEST_BUTTON, OnPress)
    ON_MESSAGE(kSumMessage, OnSum)
    ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

class Framework : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dialog.Create(IDD_TEST, nullptr)); }
    void TearDown() override
    {
        m_dialog.DestroyWindow();
        test::PumpMessages(nullptr);
    }
    fw::CWindow Item(int id) const { return m_dialog.GetDlgItem(id); }

    TestDialog m_dialog;
};

TEST_F(Framework, DataExchangeWritesMembersAtStartAndReadsThemBack)
{
    EXPECT_EQ(Item(IDC_TEST_EDIT).GetWindowText(), L"hello");
    EXPECT_EQ(Item(IDC_TEST_CHECK).SendMessage(BM_GETCHECK), BST_CHECKED);
    DWORD shown = 0;
    Item(IDC_TEST_ADDRESS).SendMessage(IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&shown));
    EXPECT_EQ(shown, 0x0A000001u);

    Item(IDC_TEST_EDIT).SetWindowText(L"changed");
    Item(IDC_TEST_CHECK).SendMessage(BM_SETCHECK, BST_UNCHECKED);
    Item(IDC_TEST_ADDRESS).SendMessage(IPM_SETADDRESS, 0, MAKEIPADDRESS(192, 168, 7, 9));
    EXPECT_TRUE(m_dialog.UpdateData(TRUE));
    EXPECT_EQ(m_dialog.m_text, L"changed");
    EXPECT_EQ(m_dialog.m_checked, 0);
    EXPECT_EQ(m_dialog.m_address, 0xC0A80709u);

    // A blank address control reads as 0.
    Item(IDC_TEST_ADDRESS).SendMessage(IPM_CLEARADDRESS);
    m_dialog.UpdateData(TRUE);
    EXPECT_EQ(m_dialog.m_address, 0u);
}

TEST_F(Framework, MessageMapCallsTypedHandlers)
{
    Item(IDC_TEST_BUTTON).SendMessage(BM_CLICK);
    Item(IDC_TEST_BUTTON).SendMessage(BM_CLICK);
    EXPECT_EQ(m_dialog.m_clicks, 2);
    EXPECT_EQ(m_dialog.SendMessage(kSumMessage, 40, 2), 42);
    // A message without an entry gets the default processing.
    EXPECT_EQ(m_dialog.SendMessage(kSumMessage + 1, 40, 2), 0);
}

TEST_F(Framework, ControlColourIsAskedOfTheParentFirstThenOfTheControl)
{
    HDC dc = ::GetDC(m_dialog.m_hWnd);
    const HWND label = Item(IDC_TEST_LABEL).m_hWnd;

    const LRESULT fromControl = m_dialog.SendMessage(
        WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label));
    EXPECT_EQ(reinterpret_cast<HBRUSH>(fromControl), m_dialog.m_label.m_brush);
    EXPECT_EQ(m_dialog.m_label.m_requests, 1);
    EXPECT_EQ(m_dialog.m_label.m_lastKind, static_cast<UINT>(CTLCOLOR_STATIC));

    m_dialog.m_parentAnswersColours = true;
    const LRESULT fromParent = m_dialog.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                                    reinterpret_cast<LPARAM>(label));
    EXPECT_EQ(reinterpret_cast<HBRUSH>(fromParent), m_dialog.m_parentBrush);
    EXPECT_EQ(m_dialog.m_label.m_requests, 1);
    ::ReleaseDC(m_dialog.m_hWnd, dc);
}

TEST_F(Framework, ObjectsLetGoOfWindowsThatDie)
{
    const HWND label = Item(IDC_TEST_LABEL).m_hWnd;
    EXPECT_EQ(fw::CWnd::FromHandlePermanent(label), &m_dialog.m_label);
    EXPECT_EQ(fw::CWnd::FromHandlePermanent(m_dialog.m_hWnd), &m_dialog);
    m_dialog.DestroyWindow();
    EXPECT_EQ(m_dialog.m_hWnd, nullptr);
    EXPECT_EQ(m_dialog.m_label.m_hWnd, nullptr);
}

TEST_F(Framework, ControlOutlivesItsObject)
{
    const HWND edit = Item(IDC_TEST_EDIT).m_hWnd;
    {
        fw::CEdit view;
        ASSERT_TRUE(view.SubclassDlgItem(IDC_TEST_EDIT, m_dialog));
        EXPECT_FALSE(view.SubclassDlgItem(IDC_TEST_EDIT, m_dialog)); // one object per window
    }
    EXPECT_EQ(fw::CWnd::FromHandlePermanent(edit), nullptr);
    // The control got its own window procedure back and still works.
    fw::CWindow(edit).SetWindowText(L"still here");
    EXPECT_EQ(fw::CWindow(edit).GetWindowText(), L"still here");
}

TEST(FrameworkModal, OkReadsControlsThenEnds)
{
    TestDialog dialog;
    const INT_PTR result =
        test::RunModal(dialog, {[&] { dialog.GetDlgItem(IDC_TEST_EDIT).SetWindowText(L"typed"); },
                                [&] { dialog.PostMessage(WM_COMMAND, IDOK); }});
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.m_text, L"typed");
    EXPECT_EQ(dialog.m_hWnd, nullptr);
}

TEST(FrameworkModal, EscapeCancelsWithoutReading)
{
    TestDialog dialog;
    const INT_PTR result =
        test::RunModal(dialog, {[&] { dialog.GetDlgItem(IDC_TEST_EDIT).SetWindowText(L"typed"); },
                                [&] { test::PressKey(dialog.m_hWnd, VK_ESCAPE); }});
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(dialog.m_text, L"hello");
}

TEST(FrameworkMessageBox, IsTitledWithTheApplicationName)
{
    fw::CWinApp* app = fw::CWinApp::Current();
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->AppName(), L"tessarin_win_tests");

    static HWND box = nullptr;
    box = nullptr;
    auto findBox = [] {
        ::EnumThreadWindows(
            ::GetCurrentThreadId(),
            [](HWND window, LPARAM) -> BOOL {
                wchar_t className[16];
                ::GetClassNameW(window, className, 16);
                if (std::wstring(className) == L"#32770")
                    box = window;
                return box == nullptr;
            },
            0);
        return box;
    };
    std::wstring title;
    const INT_PTR answer = test::RunScripted(
        [] { return static_cast<INT_PTR>(fw::AppMessageBox(L"Password error!")); }, findBox,
        {[&] { title = fw::CWindow(box).GetWindowText(); },
         [&] { ::PostMessageW(box, WM_COMMAND, IDOK, 0); }});
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(title, L"tessarin_win_tests");
}

TEST(FrameworkThread, RunsTheProcedureWithItsParameter)
{
    std::atomic<int> value{0};
    fw::KernelHandle thread = fw::BeginThread(
        [](void* parameter) -> unsigned {
            static_cast<std::atomic<int>*>(parameter)->store(42);
            return 7;
        },
        &value);
    ASSERT_TRUE(thread);
    ASSERT_EQ(::WaitForSingleObject(thread.Get(), 5000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    ::GetExitCodeThread(thread.Get(), &exitCode);
    EXPECT_EQ(exitCode, 7u);
    EXPECT_EQ(value.load(), 42);
}

class FrameworkProfile : public testing::Test {
protected:
    void TearDown() override { ::DeleteFileW(Profile().c_str()); }
    static std::wstring Profile() { return fw::CWinApp::Current()->ProfilePath(); }
};

TEST_F(FrameworkProfile, LivesBesideTheExecutableAndReturnsSavedBlocks)
{
    const std::wstring profile = Profile();
    EXPECT_NE(profile.find(L"\\tessarin_win_tests.INI"), std::wstring::npos) << profile.c_str();

    const std::int32_t saved[] = {2, 50, 80};
    ASSERT_TRUE(::WritePrivateProfileStructW(
        L"ListCtrls", L"1000", const_cast<std::int32_t*>(saved), sizeof(saved), profile.c_str()));
    const std::vector<std::uint8_t> block =
        fw::CWinApp::Current()->GetProfileBinary(L"ListCtrls", L"1000");
    ASSERT_EQ(block.size(), sizeof(saved));
    EXPECT_EQ(std::memcmp(block.data(), saved, sizeof(saved)), 0);

    EXPECT_TRUE(fw::CWinApp::Current()->GetProfileBinary(L"ListCtrls", L"1001").empty());
    EXPECT_TRUE(fw::CWinApp::Current()->GetProfileBinary(L"Other", L"1000").empty());
}

TEST_F(FrameworkProfile, DamagedBlocksReadAsAbsent)
{
    const std::wstring profile = Profile();
    // Odd length, bad checksum, not hex.
    for (const wchar_t* text : {L"010", L"0A000000FF", L"ZZZZ"}) {
        ::WritePrivateProfileStringW(L"ListCtrls", L"1000", text, profile.c_str());
        EXPECT_TRUE(fw::CWinApp::Current()->GetProfileBinary(L"ListCtrls", L"1000").empty())
            << text;
    }
}

} // namespace
