// The firmware-upgrade panel: a borderless child dialog of the main window, shown in place of the
// network form by the Upgrade tab. The installer picks a package, types the device's user name
// and password and starts the upgrade of the device selected in the list; the panel picks one of
// three mechanisms by the device's type number and shows the progress on its bar.
#pragma once

#include "controls/GradientProgressCtrl.h"
#include "controls/PngButton.h"
#include "dvsnet/DVSNETClient.h"
#include "framework/Dialog.h"
#include "framework/Handles.h"
#include "upgrade/UpgradeSession.h"

#include <atomic>
#include <string>

class CKorvaleDlg;

// The panel is also the TCP upload's session: the worker reports to it and asks it whether to
// go on (UpgradeSession; m_nProgress is the percentage a worker showed last).
class CDlgUpgrade : public fw::CDialog, public UpgradeSession {
public:
    CDlgUpgrade();

    fw::CFont m_font;
    // The owning main window, set before the panel's window is created; the panel reads the
    // selected device from it.
    CKorvaleDlg* m_pMainDlg = nullptr;
    std::wstring m_strFilePath;
    CGradientProgressCtrl m_progress;
    std::wstring m_strUserName = L"admin";
    std::wstring m_strPassword;
    // The result code of the last TCP upload.
    std::atomic<int> m_nResult{0};
    // The package path of the running upgrade, copied when it started.
    std::wstring m_strPackagePath;
    // Cleared when the panel goes: the workers stop at their next step.
    std::atomic<bool> m_bKeepRunning{true};
    fw::KernelHandle m_hUploadThread;
    fw::KernelHandle m_hConnectEvent;
    DVSNET_HANDLE m_hServer = 0;
    CPngButton m_btnBrowse;
    CPngButton m_btnUpgrade;

    // The idle look: an almost full bar in near-white, no text.
    void ResetProgress();
    // The active look: green to blue with the percentage.
    void ShowProgress(std::int32_t percent) override;

    // The rest of the upload worker's session.
    bool KeepRunning() override { return m_bKeepRunning; }
    bool PingIcmp(const std::string& target) override;
    bool PingRaw(const std::string& target) override;
    void Trace(const std::string& line) override;

protected:
    void DoDataExchange(fw::CDataExchange* dx) override;
    BOOL OnInitDialog() override;

    void OnUpgrade();
    void OnBrowse();
    void OnDestroy();
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);
    void OnPaint();

    DECLARE_MESSAGE_MAP()

private:
    bool UpgradeRunning() const;
    bool CheckPackageName() const;
    BOOL ConnectServer();
    static unsigned __stdcall ConnectServerThread(void* panel);
    static void CALLBACK OnServerMessage(DVSNET_HANDLE server, DWORD message, DWORD value1,
                                         DWORD value2, DWORD value3, void* user);
    static LONG CALLBACK OnUpdateProgress(DWORD reserved, const DVSNET_PROGRESS* progress,
                                          void* user);
    // Watch or Poll.
    void StartTcpUpgrade(UpgradeMechanism mechanism);
    static unsigned __stdcall UploadWatchThread(void* panel);
    static unsigned __stdcall UploadPollThread(void* panel);
    void ReportUploadResult(std::int32_t result);
    void StopUploadWorker();
    void StartLibraryUpgrade();

    // What the upload worker reads, copied when the upgrade starts.
    UpgradeJob m_job;
    std::int64_t m_counterFrequency = 1;

    // A library transfer runs from a successful DVSNET_UpdateServer to its last report.
    std::atomic<bool> m_libraryTransferRunning{false};
    bool m_connecting = false;
};
