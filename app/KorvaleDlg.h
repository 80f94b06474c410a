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
#include "upgrade/DlgUpgrade.h"

#include <cstdint>
#include <string>

class CKorvaleDlg : public fw::CDialog {
public:
    CKorvaleDlg();

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // The folder of the skin images beside the executable, ending in a backslash.
    static std::wstring GetSkinFolder();

    // The client rows above this line are the title band, by which the window is dragged.
    static constexpr int kTitleBandHeight = 78;

    HICON m_hIcon;
    fw::CListCtrl m_deviceList;
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

    DECLARE_MESSAGE_MAP()

private:
    void PlaceUpgradePanel();
    void PaintBackground(HDC dc) const;
    void PaintMinimized(HDC dc) const;
    void ShowNetworkForm(bool show) const;
    void ShowActiveTab(CPngButton& active);
};
