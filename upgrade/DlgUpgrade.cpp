#include "DlgUpgrade.h"

#include "PackageName.h"
#include "PackageUpload.h"
#include "Ping.h"
#include "app/CredentialQuery.h"
#include "app/KorvaleDlg.h"
#include "app/LeadingInt.h"
#include "discovery/ModifyRules.h"
#include "framework/FileDialog.h"
#include "framework/Text.h"
#include "framework/Thread.h"
#include "framework/WinApp.h"
#include "res/resource.h"

#include <commdlg.h>

#include <array>

namespace {

constexpr wchar_t kNote[] =
    L"The upgrading process will be 1 to 10 minutes, please don't disconnect power to the "
    L"device during the process. The device reboots automatically after upgrading.";
constexpr wchar_t kPackageFilter[] =
    L"所有文件 (*.*)|*.*|图片 (*.gif;*.jpg)|*.gif;*.jpg|HTML (*.HTM;*.HTML)|*.HTM;*.HTML|"
    L"PACKAGE (*.package)|*.package|FLS (*.FLS)|*.FLS||";
constexpr int kPanelFontControls[] = {IDC_UPG_FILE_CAPTION,     IDC_UPG_FILE_PATH,
                                      IDC_UPG_STATUS_CAPTION,   IDC_UPG_USERNAME_CAPTION,
                                      IDC_UPG_USERNAME,         IDC_UPG_PASSWORD_CAPTION,
                                      IDC_UPG_PASSWORD,         IDC_UPG_NOTE_CAPTION,
                                      IDC_UPG_NOTE};
constexpr WORD kLibraryPort = 4000;
// The library takes the package path in a buffer of MAX_PATH bytes.
constexpr size_t kLibraryPathBuffer = 260;
constexpr size_t kLibraryTextField = 40;

} // namespace

BEGIN_MESSAGE_MAP(CDlgUpgrade, fw::CDialog)
    ON_BN_CLICKED(IDC_UPG_UPGRADE, OnUpgrade)
    ON_BN_CLICKED(IDC_UPG_BROWSE, OnBrowse)
    ON_WM_DESTROY()
    ON_WM_CTLCOLOR()
    ON_WM_PAINT()
END_MESSAGE_MAP()

CDlgUpgrade::CDlgUpgrade() : CDialog(IDD_UPGRADE) {}

void CDlgUpgrade::DoDataExchange(fw::CDataExchange* dx)
{
    fw::DDX_Text(dx, IDC_UPG_FILE_PATH, m_strFilePath);
    fw::DDX_Control(dx, IDC_UPG_PROGRESS, m_progress);
    fw::DDX_Text(dx, IDC_UPG_USERNAME, m_strUserName);
    fw::DDX_Text(dx, IDC_UPG_PASSWORD, m_strPassword);
    fw::DDX_Control(dx, IDC_UPG_BROWSE, m_btnBrowse);
    fw::DDX_Control(dx, IDC_UPG_UPGRADE, m_btnUpgrade);
}

BOOL CDlgUpgrade::OnInitDialog()
{
    CDialog::OnInitDialog();

    LOGFONTW logFont{};
    logFont.lfHeight = 15;
    logFont.lfWeight = FW_NORMAL;
    wcscpy_s(logFont.lfFaceName, L"Arial");
    m_font.CreateFontIndirect(logFont);
    for (int id : kPanelFontControls)
        GetDlgItem(id).SetFont(m_font.GetSafeHandle(), TRUE);

    ResetProgress();
    GetDlgItem(IDC_UPG_NOTE).SetWindowText(kNote);

    const std::wstring skin = CKorvaleDlg::GetSkinFolder();
    m_btnUpgrade.LoadPngFile(skin + L"Upgrade.png");
    m_btnBrowse.LoadPngFile(skin + L"Browse.png");

    UpdateData(FALSE);
    return TRUE;
}

void CDlgUpgrade::ResetProgress()
{
    m_progress.m_showText = 0;
    m_progress.m_colorStart = RGB(255, 255, 255);
    m_progress.m_colorEnd = RGB(240, 240, 240);
    m_progress.m_lower = 0;
    m_progress.m_upper = 100;
    m_progress.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    // 99, not 0: the idle bar is drawn almost full, in near-white.
    m_progress.m_position = 99;
    m_progress.SendMessage(PBM_SETPOS, 99);
}

void CDlgUpgrade::ShowProgress(std::int32_t percent)
{
    m_progress.m_showText = 1;
    m_progress.m_colorStart = RGB(0, 255, 0);
    m_progress.m_colorEnd = RGB(0, 0, 255);
    m_progress.SetPos(percent);
}

void CDlgUpgrade::OnBrowse()
{
    if (const auto path = fw::ShowOpenFileDialog(m_hWnd, kPackageFilter,
                                                 OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER))
        m_strFilePath = *path;
    UpdateData(FALSE);
}

bool CDlgUpgrade::UpgradeRunning() const
{
    const bool workerRunning =
        m_hUploadThread && ::WaitForSingleObject(m_hUploadThread.Get(), 0) == WAIT_TIMEOUT;
    return workerRunning || m_connecting || m_libraryTransferRunning;
}

bool CDlgUpgrade::CheckPackageName() const
{
    const std::wstring title = fw::FromAnsi(ExtractPackageTitle(fw::ToAnsi(m_strFilePath)));
    return PackageNameMatches(title, m_pMainDlg->m_deviceFirmware);
}

void CDlgUpgrade::OnUpgrade()
{
    UpdateData(TRUE);
    // The panel has one worker and one library connection: a second upgrade would take them
    // from the one that runs.
    if (UpgradeRunning()) {
        fw::AppMessageBox(L"An upgrade is already running. Wait until it has finished.");
        return;
    }
    if (!IsUsableDeviceAddress(m_pMainDlg->m_oldIp)) {
        fw::AppMessageBox(L"Please chose the device!");
        return;
    }
    if (fw::ToAnsi(m_strUserName + L":" + m_strPassword).size() > kMaxCredentialBytes) {
        fw::AppMessageBox(L"The user name and password are too long.");
        return;
    }
    if (!m_pMainDlg->CheckCredentials(m_strUserName, m_strPassword)) {
        fw::AppMessageBox(L"Password error!");
        return;
    }

    const UpgradeMechanism mechanism = MechanismForType(LeadingInt(m_pMainDlg->m_deviceType));
    if (mechanism == UpgradeMechanism::Library)
        StartLibraryUpgrade();
    else
        StartTcpUpgrade(mechanism);
}

void CDlgUpgrade::StartTcpUpgrade(UpgradeMechanism mechanism)
{
    if (m_strFilePath.empty()) {
        fw::AppMessageBox(L"Please select file!");
        return;
    }
    m_nProgress = 0;
    m_nResult = 0;
    m_strPackagePath = m_strFilePath;
    m_bKeepRunning = true;
    // The worker reads this copy: another row clicked meanwhile does not change its target.
    m_job = UpgradeJob{std::filesystem::path(m_strPackagePath),
                       fw::ToAnsi(m_pMainDlg->m_deviceIpText),
                       fw::ToAnsi(m_pMainDlg->m_deviceHttpPort),
                       fw::ToAnsi(m_pMainDlg->m_deviceType),
                       fw::ToAnsi(m_strUserName),
                       fw::ToAnsi(m_strPassword)};
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    m_counterFrequency = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
    m_hUploadThread = fw::BeginThread(mechanism == UpgradeMechanism::Watch
                                          ? &CDlgUpgrade::UploadWatchThread
                                          : &CDlgUpgrade::UploadPollThread,
                                      this);
}

unsigned __stdcall CDlgUpgrade::UploadWatchThread(void* parameter)
{
    auto* panel = static_cast<CDlgUpgrade*>(parameter);
    panel->ReportUploadResult(UploadAndWatch(panel->m_job, *panel));
    return 0;
}

unsigned __stdcall CDlgUpgrade::UploadPollThread(void* parameter)
{
    auto* panel = static_cast<CDlgUpgrade*>(parameter);
    panel->ReportUploadResult(UploadAndPoll(panel->m_job, *panel));
    return 0;
}

void CDlgUpgrade::ReportUploadResult(std::int32_t result)
{
    m_nResult = result;
    // A panel that is going away asked for the end; it gets no message about it.
    if (IsUploadFailure(result) && m_bKeepRunning)
        fw::AppMessageBox(L"Upload file failed!");
}

bool CDlgUpgrade::PingIcmp(const std::string& target) { return ::PingIcmp(target); }

bool CDlgUpgrade::PingRaw(const std::string& target)
{
    PingResult result;
    return ::PingRaw(result, target, m_counterFrequency);
}

void CDlgUpgrade::Trace(const std::string& line) { ::OutputDebugStringW(fw::FromAnsi(line).c_str()); }

void CDlgUpgrade::StopUploadWorker()
{
    if (!m_hUploadThread)
        return;
    m_bKeepRunning = false;
    // The worker moves the bar with messages sent to this thread; while waiting for it, those
    // are handled, or both would wait for each other until the time is up.
    const HANDLE thread = m_hUploadThread.Get();
    const ULONGLONG deadline = ::GetTickCount64() + 2000;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline)
            break;
        const DWORD wait = ::MsgWaitForMultipleObjects(1, &thread, FALSE,
                                                       static_cast<DWORD>(deadline - now),
                                                       QS_SENDMESSAGE);
        if (wait != WAIT_OBJECT_0 + 1)
            break;
        MSG message;
        ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    // The last resort, for a worker stuck where no flag reaches it.
    if (::WaitForSingleObject(thread, 0) == WAIT_TIMEOUT)
        ::TerminateThread(thread, 0);
    m_hUploadThread.Reset();
}

void CDlgUpgrade::StartLibraryUpgrade()
{
    if (m_strFilePath.empty()) {
        fw::AppMessageBox(L"Please select file!");
        return;
    }
    if (!CheckPackageName()) {
        fw::AppMessageBox(L"Upgrade package error!");
        return;
    }
    const std::string path = fw::ToAnsi(m_strFilePath);
    if (path.size() >= kLibraryPathBuffer) {
        fw::AppMessageBox(L"The package path is too long. Move the package to a shorter path.");
        return;
    }
    m_strPackagePath = m_strFilePath;
    // The previous library upgrade has ended (a running one refuses the click): its connection
    // makes way for the new one, and a failed connect cannot fall back on it.
    if (m_hServer != 0) {
        DVSNET_CloseServer(m_hServer);
        m_hServer = 0;
    }
    if (!ConnectServer()) {
        fw::AppMessageBox(L"密码错误");
        return;
    }

    std::array<char, kLibraryPathBuffer> buffer{};
    CopyAnsiField(path, buffer);
    m_libraryTransferRunning = true;
    if (DVSNET_UpdateServer(m_hServer, buffer.data(), &CDlgUpgrade::OnUpdateProgress, this) != 0) {
        m_libraryTransferRunning = false;
        fw::AppMessageBox(L"Upgrade failed!");
    }
}

BOOL CDlgUpgrade::ConnectServer()
{
    m_hConnectEvent.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    fw::KernelHandle thread = fw::BeginThread(&CDlgUpgrade::ConnectServerThread, this);
    m_connecting = true;
    const auto connected = [this] {
        return ::WaitForSingleObject(m_hConnectEvent.Get(), 0) == WAIT_OBJECT_0;
    };
    // The connection may take long; the window stays responsive meanwhile.
    while (!connected()) {
        // A connection thread that has ended without signalling found no library service or was
        // refused: waiting on would leave the panel busy until the program ends.
        if (!thread || ::WaitForSingleObject(thread.Get(), 0) == WAIT_OBJECT_0) {
            if (connected())
                break;
            m_hConnectEvent.Reset();
            m_connecting = false;
            return FALSE;
        }
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_CLOSE || message.message == WM_QUIT) {
                if (thread)
                    ::TerminateThread(thread.Get(), 2);
                m_hConnectEvent.Reset();
                m_connecting = false;
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
                return FALSE;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::Sleep(1);
    }
    m_hConnectEvent.Reset();
    m_connecting = false;
    return TRUE;
}

unsigned __stdcall CDlgUpgrade::ConnectServerThread(void* parameter)
{
    auto* panel = static_cast<CDlgUpgrade*>(parameter);
    panel->UpdateData(TRUE);
    std::array<char, kLibraryTextField> address{};
    std::array<char, kLibraryTextField> user{};
    std::array<char, kLibraryTextField> password{};
    CopyAnsiField(fw::ToAnsi(panel->m_pMainDlg->m_deviceIpText), address);
    CopyAnsiField(fw::ToAnsi(panel->m_strUserName), user);
    CopyAnsiField(fw::ToAnsi(panel->m_strPassword), password);
    DVSNET_OpenServer("", address.data(), kLibraryPort, user.data(), password.data(),
                      &panel->m_hServer, 0, 0);
    if (DVSNET_RegServerMsgCallback(panel->m_hServer, &CDlgUpgrade::OnServerMessage, panel) == 0)
        ::SetEvent(panel->m_hConnectEvent.Get());
    return 0;
}

void CALLBACK CDlgUpgrade::OnServerMessage(DVSNET_HANDLE server, DWORD, DWORD, DWORD, DWORD,
                                           void*)
{
    DVSNET_SERVER_INFO info{};
    info.size = sizeof(info);
    DVSNET_GetServerInfo(server, &info);
}

LONG CALLBACK CDlgUpgrade::OnUpdateProgress(DWORD, const DVSNET_PROGRESS* progress, void* user)
{
    auto* panel = static_cast<CDlgUpgrade*>(user);
    if (panel == nullptr || progress == nullptr || !::IsWindow(panel->m_hWnd))
        return 0;
    panel->ShowProgress(progress->percent);
    if (progress->finished != 0 || progress->percent == 100) {
        panel->ResetProgress();
        panel->m_libraryTransferRunning = false;
    }
    return 0;
}

void CDlgUpgrade::OnDestroy()
{
    CDialog::OnDestroy();
    StopUploadWorker();
    if (m_hServer != 0) {
        DVSNET_CloseServer(m_hServer);
        m_hServer = 0;
    }
}

HBRUSH CDlgUpgrade::OnCtlColor(HDC dc, HWND control, UINT kind)
{
    const HBRUSH brush = CDialog::OnCtlColor(dc, control, kind);
    // Labels and the disabled note are drawn straight onto the panel's background.
    if (kind == CTLCOLOR_STATIC) {
        ::SetTextColor(dc, RGB(0, 0, 0));
        ::SetBkMode(dc, TRANSPARENT);
        return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    }
    return brush;
}

void CDlgUpgrade::OnPaint()
{
    fw::CPaintDC paint(m_hWnd);
    const RECT client = GetClientRect();
    fw::OwnedBrush background(::CreateSolidBrush(RGB(248, 248, 248)));
    ::FillRect(paint.GetSafeHdc(), &client, background.Get());
}
