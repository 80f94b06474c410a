// The Modify IP command: the edited settings of the selected device are checked, the
// credentials confirmed against the device, and the new settings broadcast from every endpoint.
#include "app/KorvaleDlg.h"

#include "ModifyRules.h"
#include "app/LeadingInt.h"
#include "framework/Text.h"
#include "framework/WinApp.h"
#include "res/resource.h"

namespace {

constexpr wchar_t kInvalidAddress[] = L"Invalid IP address";
constexpr wchar_t kPasswordError[] = L"Password error!";
constexpr wchar_t kOtherSegment[] =
    L"IP address and gate way are not in the same network segment! are you sure modify?";

} // namespace

bool CKorvaleDlg::ValidatePorts()
{
    const bool isDvr = fw::ToAnsi(m_deviceModel).find("DVR") != std::string::npos;
    switch (CheckPorts(LeadingInt(m_httpPort), LeadingInt(m_rtspPort), LeadingInt(m_mobilePort),
                       isDvr)) {
    case PortProblem::None:
        return true;
    case PortProblem::Repeated:
        fw::AppMessageBox(L"The port is repeated!");
        return false;
    case PortProblem::RtspOutOfRange:
        fw::AppMessageBox(L"the effective value of RTSP port is 554 or from 1025 to 65534");
        return false;
    case PortProblem::HttpOutOfRange:
        fw::AppMessageBox(L"The effective value of HTTP port is 80 or from 1025 to 65534");
        return false;
    }
    return false;
}

void CKorvaleDlg::OnModifyIp()
{
    UpdateData(TRUE);
    // Also what happens before any row was clicked: the present address is then 0.
    if (!IsUsableDeviceAddress(m_oldIp)) {
        fw::AppMessageBox(kInvalidAddress);
        return;
    }
    if (!CheckCredentials(m_userName, m_password)) {
        fw::AppMessageBox(kPasswordError);
        return;
    }
    if (!ValidatePorts())
        return;
    if (!IsUsableDeviceAddress(m_newIp)) {
        fw::AppMessageBox(kInvalidAddress);
        return;
    }
    if (m_gateway == 0) {
        m_gateway = DefaultGateway(m_newIp);
        UpdateData(FALSE);
    } else if (!SameSegment(m_gateway, m_newIp) &&
               fw::AppMessageBox(kOtherSegment, MB_OKCANCEL | MB_ICONWARNING) != IDOK) {
        return;
    }

    RefreshEndpoints();

    ModifySettings settings;
    settings.currentAddress = m_oldIp;
    // The form disables the address fields while DHCP is ticked; then no address is sent.
    settings.addressesGiven = GetDlgItem(IDC_NEW_IP).IsWindowEnabled() != FALSE;
    settings.ipAddress = m_newIp;
    settings.subnetMask = m_netmask;
    settings.gateway = m_gateway;
    settings.dns = m_dns;
    settings.mac = MacFromText(fw::ToAnsi(m_deviceMac));
    settings.httpPort = LeadingInt(m_httpPort);
    settings.rtspPort = LeadingInt(m_rtspPort);
    settings.mobilePort = LeadingInt(m_mobilePort);
    settings.dhcpEnabled = static_cast<std::uint8_t>(m_dhcp != 0 ? 1 : 0);
    BroadcastModifyRequest(settings);
}
