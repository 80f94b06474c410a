// The main window: one borderless, skinned dialog that is the whole user interface. The device
// list fills the left side; on the right two tabs switch between the network-settings form and
// the firmware-upgrade panel. The window paints its own background and title band and is dragged
// by that band. It owns everything else in the program.
#pragma once

#include "controls/ColorStatic.h"
#include "controls/NumEdit.h"
#include "controls/PngButton.h"
#include "framework/Controls.h"
#include "framework/ListCtrl.h"
#include "framework/Dialog.h"
#include "framework/Handles.h"
#include "controls/SortListCtrl.h"
#include "discovery/Datagrams.h"
#include "discovery/DiscoveryEndpoint.h"
#include "upgrade/DlgUpgrade.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <string>

// Posted by the discovery receiver thread for each queued search reply, and again after idle
// waits while replies are still queued.
constexpr UINT WM_SEARCH_REPLY = WM_USER + 1;

class CKorvaleDlg : public fw::CDialog {
public:
    CKorvaleDlg();

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // The folder of the skin images beside the executable, ending in a backslash.
    static std::wstring GetSkinFolder();

    // The client rows above this line are the title band, by which the window is dragged.
    static constexpr int kTitleBandHeight = 78;

    HICON m_hIcon;
    CSortListCtrl m_deviceList;

    // Discovery: one endpoint per local address, the receiver thread's flags and the replies it
    // queued. m_endpointLock guards the endpoints and every use of their sockets, m_replyLock the
    // queue; when both are taken, the endpoint lock comes first.
    using ReplyBuffer = std::array<std::uint8_t, kSearchReplySize>;
    std::list<DiscoveryEndpoint> m_endpoints;
    fw::CriticalSection m_endpointLock;
    std::atomic<bool> m_stopReceiver{false};
    std::atomic<bool> m_receiverStopped{false};
    fw::CriticalSection m_replyLock;
    std::deque<std::unique_ptr<ReplyBuffer>> m_replyQueue;

    // Address values hold the first octet in the most significant byte, as the IP address
    // controls do. m_oldIp is the selected device's present address; ending in 0 or 255 it
    // means that no usable device is selected.
    DWORD m_oldIp = 0;
    DWORD m_newIp = 0;
    DWORD m_netmask;
    DWORD m_gateway = 0;
    // The selected device, copied from the last clicked row.
    std::wstring m_deviceIpText = L"0.0.0.0";
    std::wstring m_deviceHttpPort = L"80";
    std::wstring m_deviceMac;
    std::wstring m_deviceModel = L"IPCAMERA";
    std::wstring m_deviceType = L"300";
    std::wstring m_deviceFirmware;
    int m_dhcp = 0;
    CPngButton m_btnClose;
    CColorStatic m_title;
    CPngButton m_btnMinimize;
    DWORD m_dns = 0;
    std::wstring m_httpPort;
    std::wstring m_rtspPort;
    std::wstring m_mobilePort;
    std::wstring m_password;
    CDlgUpgrade m_upgradePanel;
    std::wstring m_userName = L"admin";
    // Basic-authentication token of the last credential check, 8-bit text.
    std::string m_authToken;
    CPngButton m_btnModifyTab;
    CPngButton m_btnUpgradeTab;
    CPngButton m_btnSearch;
    CPngButton m_btnModifyIp;
    CNumEdit m_editHttpPort;
    CNumEdit m_editRtspPort;
    CNumEdit m_editMobilePort;
    fw::CFont m_font;

    // Empties the list and broadcasts a search from every local address.
    void OnSearch();
    // Brings the endpoints up to date with the host's IPv4 addresses.
    void RefreshEndpoints();
    // Ends the receiver thread and closes every socket; runs once per window.
    void StopDiscovery();

    // 1 when the selected device accepts the user name and password, else 0. Leaves the Basic
    // token in m_authToken and shows nothing.
    int CheckCredentials(std::wstring userName, std::wstring password);

protected:
    void DoDataExchange(fw::CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    void OnPaint();
    BOOL OnEraseBkgnd(HDC dc);
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);
    HCURSOR OnQueryDragIcon();
    void OnLButtonDown(UINT flags, POINT point);
    void OnClose();
    void OnCloseButton();
    void OnMinimizeButton();
    void OnModifyTab();
    void OnUpgradeTab();
    void OnDestroy();

    // The device list and the form (row click, DHCP box, web page).
    void InitDeviceListColumns();
    void OnDeviceListClick(NMHDR* header, LRESULT* result);
    void OnDeviceListDblClk(NMHDR* header, LRESULT* result);
    void OnDhcpCheck();

    // Checks the edited settings and the credentials, then broadcasts them to the device.
    void OnModifyIp();
    // The port rules; shows the failing rule's message and returns false.
    bool ValidatePorts();

    // Turns one queued reply into a row.
    void OnSearchReply();

    DECLARE_MESSAGE_MAP()

private:
    bool FindEndpoint(std::uint32_t address);
    void BroadcastModifyRequest(const ModifySettings& settings);
    static unsigned __stdcall ReceiverThreadProc(void* dialog);
    void ReceiveReplies();
    int RowUnderCursor() const;

    void PlaceUpgradePanel();
    void PaintBackground(HDC dc) const;
    void PaintMinimized(HDC dc) const;
    void ShowNetworkForm(bool show) const;
    void ShowActiveTab(CPngButton& active);

    fw::KernelHandle m_receiverThread;
    bool m_discoveryStopped = false;
};
