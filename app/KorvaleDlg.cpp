#include "KorvaleDlg.h"

#include "DottedQuad.h"
#include "KorvaleApp.h"
#include "framework/Thread.h"
#include "res/resource.h"

#include <commctrl.h>

#include <array>

namespace {

// The controls of the network form, which the two tabs show and hide together. The DHCP box's
// caption (a separate label) goes with them, or it would stand over the upgrade panel.
constexpr std::array kNetworkFormControls{IDC_DNS_CAPTION,
                                          IDC_DNS,
                                          IDC_NEW_IP_CAPTION,
                                          IDC_NEW_IP,
                                          IDC_NETMASK_CAPTION,
                                          IDC_NETMASK,
                                          IDC_GATEWAY_CAPTION,
                                          IDC_GATEWAY,
                                          IDC_HTTP_PORT_CAPTION,
                                          IDC_HTTP_PORT,
                                          IDC_RTSP_PORT_CAPTION,
                                          IDC_RTSP_PORT,
                                          IDC_MOBILE_PORT_CAPTION,
                                          IDC_MOBILE_PORT,
                                          IDC_DHCP,
                                          IDC_DHCP_CAPTION,
                                          IDC_PASSWORD_CAPTION,
                                          IDC_PASSWORD,
                                          IDC_USERNAME_CAPTION,
                                          IDC_USERNAME,
                                          IDC_MODIFY_IP};

// The form and the list use Arial 15 px; everything else keeps the template's Verdana.
constexpr std::array kArialControls{IDC_NEW_IP_CAPTION,
                                    IDC_NEW_IP,
                                    IDC_NETMASK_CAPTION,
                                    IDC_NETMASK,
                                    IDC_GATEWAY_CAPTION,
                                    IDC_GATEWAY,
                                    IDC_DNS_CAPTION,
                                    IDC_DNS,
                                    IDC_HTTP_PORT_CAPTION,
                                    IDC_HTTP_PORT,
                                    IDC_RTSP_PORT_CAPTION,
                                    IDC_RTSP_PORT,
                                    IDC_MOBILE_PORT_CAPTION,
                                    IDC_MOBILE_PORT,
                                    IDC_DHCP,
                                    IDC_USERNAME_CAPTION,
                                    IDC_USERNAME,
                                    IDC_PASSWORD_CAPTION,
                                    IDC_PASSWORD,
                                    IDC_DEVICE_LIST};

constexpr int kUpgradePanelWidth = 250;
constexpr int kUpgradePanelHeight = 400;

} // namespace

BEGIN_MESSAGE_MAP(CKorvaleDlg, fw::CDialog)
    ON_WM_PAINT()
    ON_WM_CTLCOLOR()
    ON_WM_QUERYDRAGICON()
    ON_WM_LBUTTONDOWN()
    ON_WM_ERASEBKGND()
    ON_BN_CLICKED(IDC_SEARCH, OnSearch)
    ON_WM_CLOSE()
    ON_WM_DESTROY()
    ON_NOTIFY(NM_DBLCLK, IDC_DEVICE_LIST, OnDeviceListDblClk)
    ON_NOTIFY(NM_CLICK, IDC_DEVICE_LIST, OnDeviceListClick)
    ON_BN_CLICKED(IDC_MODIFY_IP, OnModifyIp)
    ON_BN_CLICKED(IDC_DHCP, OnDhcpCheck)
    ON_BN_CLICKED(IDC_CLOSE, OnCloseButton)
    ON_BN_CLICKED(IDC_MINIMIZE, OnMinimizeButton)
    ON_BN_CLICKED(IDC_MODIFY_TAB, OnModifyTab)
    ON_BN_CLICKED(IDC_UPGRADE_TAB, OnUpgradeTab)
END_MESSAGE_MAP()

CKorvaleDlg::CKorvaleDlg()
    : CDialog(IDD_MAIN),
      m_hIcon(::LoadIconW(fw::CWinApp::ResourceInstance(), MAKEINTRESOURCEW(IDI_MAIN))),
      m_netmask(ParseDottedQuad(L"255.255.255.0"))
{}

void CKorvaleDlg::DoDataExchange(fw::CDataExchange* dx)
{
    fw::DDX_Control(dx, IDC_DEVICE_LIST, m_deviceList);
    fw::DDX_IPAddress(dx, IDC_OLD_IP, m_oldIp);
    fw::DDX_IPAddress(dx, IDC_NEW_IP, m_newIp);
    fw::DDX_IPAddress(dx, IDC_NETMASK, m_netmask);
    fw::DDX_IPAddress(dx, IDC_GATEWAY, m_gateway);
    fw::DDX_Check(dx, IDC_DHCP, m_dhcp);
    fw::DDX_Control(dx, IDC_CLOSE, m_btnClose);
    fw::DDX_Control(dx, IDC_TITLE, m_title);
    fw::DDX_Control(dx, IDC_MINIMIZE, m_btnMinimize);
    fw::DDX_IPAddress(dx, IDC_DNS, m_dns);
    fw::DDX_Text(dx, IDC_HTTP_PORT, m_httpPort);
    fw::DDX_Text(dx, IDC_RTSP_PORT, m_rtspPort);
    fw::DDX_Text(dx, IDC_MOBILE_PORT, m_mobilePort);
    fw::DDX_Text(dx, IDC_PASSWORD, m_password);
    fw::DDX_Text(dx, IDC_USERNAME, m_userName);
    fw::DDX_Control(dx, IDC_MODIFY_TAB, m_btnModifyTab);
    fw::DDX_Control(dx, IDC_UPGRADE_TAB, m_btnUpgradeTab);
    fw::DDX_Control(dx, IDC_SEARCH, m_btnSearch);
    fw::DDX_Control(dx, IDC_MODIFY_IP, m_btnModifyIp);
    fw::DDX_Control(dx, IDC_HTTP_PORT, m_editHttpPort);
    fw::DDX_Control(dx, IDC_RTSP_PORT, m_editRtspPort);
    fw::DDX_Control(dx, IDC_MOBILE_PORT, m_editMobilePort);
}

BOOL CKorvaleDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_upgradePanel.m_pMainDlg = this;
    m_upgradePanel.Create(IDD_UPGRADE, this);
    m_upgradePanel.ShowWindow(SW_HIDE);
    PlaceUpgradePanel();

    // The window has no caption bar; its text names it in the taskbar and the task switcher.
    SetWindowText(L"Tessarin");
    GetDlgItem(IDC_SEARCH).SetWindowText(L"Search");
    GetDlgItem(IDC_MODIFY_IP).SetWindowText(L"Modify IP");
    GetDlgItem(IDC_GATEWAY_CAPTION).SetWindowText(L"GateWay");
    GetDlgItem(IDC_NETMASK_CAPTION).SetWindowText(L"Subnet Mask");
    GetDlgItem(IDC_NEW_IP_CAPTION).SetWindowText(L"IP Adress");
    GetDlgItem(IDC_OLD_IP_CAPTION).SetWindowText(L"Old IP");

    m_stopReceiver = false;
    m_receiverStopped = false;
    InitDeviceListColumns();
    // No endpoint exists yet; the first search makes them.
    m_receiverThread = fw::BeginThread(&CKorvaleDlg::ReceiverThreadProc, this);

    LOGFONTW logFont{};
    logFont.lfHeight = 15;
    wcscpy_s(logFont.lfFaceName, L"Arial");
    m_font.CreateFontIndirect(logFont);
    for (int id : kArialControls)
        GetDlgItem(id).SetFont(m_font.GetSafeHandle(), TRUE);

    const std::wstring skin = GetSkinFolder();
    m_btnModifyTab.LoadPngFile(skin + L"Tip.png");
    m_btnUpgradeTab.LoadPngFile(skin + L"Tip1.png");
    ShowActiveTab(m_btnModifyTab);
    m_btnModifyIp.LoadPngFile(skin + L"modify.png");
    m_btnSearch.LoadPngFile(skin + L"search.png");
    m_btnClose.LoadPngFile(skin + L"close.png");
    m_btnMinimize.LoadPngFile(skin + L"minimize.png");

    return TRUE;
}

void CKorvaleDlg::PlaceUpgradePanel()
{
    // Below the Modify tab, where the template puts it.
    RECT tab = GetDlgItem(IDC_MODIFY_TAB).GetWindowRect();
    ScreenToClient(tab);
    m_upgradePanel.MoveWindow(tab.left, tab.bottom, kUpgradePanelWidth, kUpgradePanelHeight, TRUE);
}

std::wstring CKorvaleDlg::GetSkinFolder()
{
    wchar_t modulePath[1024] = {};
    ::GetModuleFileNameW(nullptr, modulePath, ARRAYSIZE(modulePath));

    // Through the short form and back, so the path is in its long, canonical form. A path the
    // conversions cannot take (longer than MAX_PATH, say) is used as the system reported it.
    std::wstring path = modulePath;
    wchar_t shortPath[MAX_PATH] = {};
    wchar_t longPath[MAX_PATH] = {};
    const DWORD shortLength = ::GetShortPathNameW(modulePath, shortPath, MAX_PATH);
    if (shortLength > 0 && shortLength < MAX_PATH) {
        const DWORD longLength = ::GetLongPathNameW(shortPath, longPath, MAX_PATH);
        if (longLength > 0 && longLength < MAX_PATH)
            path = longPath;
    }

    const size_t slash = path.rfind(L'\\');
    path.resize(slash == std::wstring::npos ? 0 : slash + 1);
    return path + L"Skin\\";
}

LRESULT CKorvaleDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SEARCH_REPLY) {
        OnSearchReply();
        return 1;
    }
    if (message == WM_REMOTE_CLOSE && theApp.m_softMode)
        CDialog::OnCancel();
    return CDialog::WindowProc(message, wParam, lParam);
}

void CKorvaleDlg::OnOK()
{
    // Enter searches; it never closes the window.
    OnSearch();
}

void CKorvaleDlg::OnCancel()
{
    // Escape must never close the window.
}

BOOL CKorvaleDlg::OnEraseBkgnd(HDC)
{
    return TRUE;
}

void CKorvaleDlg::OnPaint()
{
    fw::CPaintDC dc(m_hWnd);
    if (IsIconic())
        PaintMinimized(dc.GetSafeHdc());
    else
        PaintBackground(dc.GetSafeHdc());
}

void CKorvaleDlg::PaintMinimized(HDC dc) const
{
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc));
    const RECT client = GetClientRect();
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
}

void CKorvaleDlg::PaintBackground(HDC dc) const
{
    // The artwork, title band included, stretched over the whole client area; the controls
    // paint themselves over it.
    const RECT client = GetClientRect();
    fw::MemoryDc memory(::CreateCompatibleDC(dc));
    fw::OwnedBitmap artwork(
        ::LoadBitmapW(fw::CWinApp::ResourceInstance(), MAKEINTRESOURCEW(IDB_BACKGROUND)));
    if (!memory || !artwork)
        return;
    BITMAP size{};
    ::GetObjectW(artwork.Get(), sizeof(size), &size);
    fw::DcSelection selection(memory.Get(), artwork.Get());
    ::SetStretchBltMode(dc, HALFTONE);
    ::StretchBlt(dc, 0, 0, client.right - client.left, client.bottom - client.top, memory.Get(), 0,
                 0, size.bmWidth, size.bmHeight, SRCCOPY);
}

HBRUSH CKorvaleDlg::OnCtlColor(HDC dc, HWND control, UINT kind)
{
    // Captions and buttons are drawn straight onto the artwork.
    if (kind == CTLCOLOR_STATIC || kind == CTLCOLOR_BTN) {
        ::SetTextColor(dc, RGB(0, 0, 0));
        ::SetBkMode(dc, TRANSPARENT);
        return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    }
    return CDialog::OnCtlColor(dc, control, kind);
}

HCURSOR CKorvaleDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

void CKorvaleDlg::OnLButtonDown(UINT flags, POINT point)
{
    // A press on the title band moves the window, as a caption bar would.
    if (point.y < kTitleBandHeight)
        PostMessage(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(point.x, point.y));
    CDialog::OnLButtonDown(flags, point);
}

void CKorvaleDlg::OnClose()
{
    StopDiscovery();
    CDialog::OnCancel();
}

void CKorvaleDlg::OnDestroy()
{
    StopDiscovery();
    CDialog::OnDestroy();
}

void CKorvaleDlg::OnCloseButton()
{
    CDialog::OnOK();
}

void CKorvaleDlg::OnMinimizeButton()
{
    ShowWindow(SW_MINIMIZE);
}

void CKorvaleDlg::ShowActiveTab(CPngButton& active)
{
    // The active tab is drawn with its pressed picture.
    for (CPngButton* tab : {&m_btnModifyTab, &m_btnUpgradeTab}) {
        tab->m_holdPressed = tab == &active;
        if (tab->m_hWnd != nullptr)
            tab->Invalidate(TRUE);
    }
}

void CKorvaleDlg::OnModifyTab()
{
    m_upgradePanel.ShowWindow(SW_HIDE);
    ShowActiveTab(m_btnModifyTab);
    ShowNetworkForm(true);
}

void CKorvaleDlg::OnUpgradeTab()
{
    ShowActiveTab(m_btnUpgradeTab);
    m_upgradePanel.ShowWindow(SW_SHOW);
    ShowNetworkForm(false);
}

void CKorvaleDlg::ShowNetworkForm(bool show) const
{
    for (int id : kNetworkFormControls)
        GetDlgItem(id).ShowWindow(show ? SW_SHOW : SW_HIDE);
}
