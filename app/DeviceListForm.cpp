// The main window's device list and parameter form: the list's columns, the selected device
// taken from a row click, the DHCP box that switches the address fields, and the device's web
// page opened by a double click.
#include "KorvaleDlg.h"

#include "DottedQuad.h"
#include "discovery/DeviceRow.h"
#include "res/resource.h"

#include <shellapi.h>

namespace {

struct ColumnSpec {
    const wchar_t* title;
    int width;
};

constexpr ColumnSpec kColumns[kDeviceColumnCount] = {
    {L"Index", 50},       {L"Model", 80},        {L"Device Name", 100}, {L"Firmware Version", 150},
    {L"IP address", 100}, {L"Subnet Mask", 100}, {L"GateWay", 100},     {L"DNS", 100},
    {L"MAC", 100},        {L"HTTP Port", 80},    {L"RTSP Port", 80},    {L"Mobile Port", 80},
    {L"Channels", 80},    {L"DHCP Enable", 80},  {L"Type", 80}};

// The address fields that DHCP takes over.
constexpr int kAddressControls[] = {IDC_NEW_IP, IDC_NETMASK, IDC_GATEWAY, IDC_DNS};

} // namespace

void CKorvaleDlg::InitDeviceListColumns()
{
    m_deviceList.SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                             LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    for (int column = 0; column < kDeviceColumnCount; ++column)
        m_deviceList.InsertColumn(column, kColumns[column].title, LVCFMT_LEFT,
                                  kColumns[column].width);
    m_deviceList.RestoreColumnWidths();
}

int CKorvaleDlg::RowUnderCursor() const
{
    // The row under the pointer now, not the list's selection: keyboard moves do not change
    // the selected device.
    LVHITTESTINFO hit{};
    ::GetCursorPos(&hit.pt);
    ::ScreenToClient(m_deviceList.m_hWnd, &hit.pt);
    return m_deviceList.HitTest(hit);
}

void CKorvaleDlg::OnDeviceListClick(NMHDR*, LRESULT* result)
{
    *result = 0;
    const int row = RowUnderCursor();
    if (row < 0)
        return;

    // What the user typed into the form reaches the members first.
    UpdateData(TRUE);
    auto cell = [&](int column) { return m_deviceList.GetItemText(row, column); };
    m_newIp = ParseDottedQuad(cell(kColumnIpAddress));
    m_oldIp = ParseDottedQuad(cell(kColumnIpAddress));
    m_netmask = ParseDottedQuad(cell(kColumnSubnetMask));
    m_gateway = ParseDottedQuad(cell(kColumnGateway));
    m_dns = ParseDottedQuad(cell(kColumnDns));
    m_deviceIpText = cell(kColumnIpAddress);
    m_deviceHttpPort = cell(kColumnHttpPort);
    m_deviceModel = cell(kColumnModel);
    m_deviceType = cell(kColumnType);
    m_deviceFirmware = cell(kColumnFirmware);
    m_deviceMac = cell(kColumnMac);
    m_httpPort = cell(kColumnHttpPort);
    m_rtspPort = cell(kColumnRtspPort);
    m_mobilePort = cell(kColumnMobilePort);
    m_password.clear();

    m_dhcp = cell(kColumnDhcp) == L"Close" ? 0 : 1;
    for (int id : kAddressControls)
        GetDlgItem(id).EnableWindow(m_dhcp == 0);
    UpdateData(FALSE);
}

void CKorvaleDlg::OnDhcpCheck()
{
    // The box has toggled itself already; its new state decides. The values stay.
    UpdateData(TRUE);
    for (int id : kAddressControls)
        GetDlgItem(id).EnableWindow(m_dhcp == 0);
}

void CKorvaleDlg::OnDeviceListDblClk(NMHDR*, LRESULT* result)
{
    *result = 0;
    const int row = RowUnderCursor();
    if (row < 0)
        return;
    const std::wstring url = L"http://" + m_deviceList.GetItemText(row, kColumnIpAddress) + L":" +
                             m_deviceList.GetItemText(row, kColumnHttpPort);
    ::ShellExecuteW(nullptr, nullptr, url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
