// The main window's side of discovery in-process: queued replies becoming rows, the selected
// device and the form from a row click, the DHCP box, the web page, and the teardown.
#include "app/KorvaleDlg.h"
#include "discovery/DeviceRow.h"
#include "resource.h"
#include "MainWindowFixture.h"
#include "WindowTestSupport.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace {

struct FakeDevice {
    const char* model;
    const char* ip;
    std::uint8_t macLast;
    std::uint8_t dhcp;
    const char* firmware = "4.1.46.5";
    std::uint16_t httpPort = 80;
};

std::unique_ptr<CKorvaleDlg::ReplyBuffer> MakeReply(const FakeDevice& device)
{
    auto reply = std::make_unique<CKorvaleDlg::ReplyBuffer>();
    reply->fill(0);
    auto put = [&](std::size_t offset, const char* text) {
        std::memcpy(reply->data() + offset, text, std::strlen(text));
    };
    put(0, "searching..");
    (*reply)[12] = 1;
    put(13, device.model);
    const std::uint8_t mac[] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, device.macLast};
    std::memcpy(reply->data() + 23, mac, 6);
    put(30, device.ip);
    put(46, "255.255.0.0");
    put(62, "10.77.0.1");
    put(78, "10.77.0.53");
    put(94, "Camera");
    put(158, device.firmware);
    (*reply)[224] = 0x2C; // type 300, little-endian
    (*reply)[225] = 0x01;
    (*reply)[230] = static_cast<std::uint8_t>(device.httpPort >> 8);
    (*reply)[231] = static_cast<std::uint8_t>(device.httpPort);
    (*reply)[234] = 0x02;
    (*reply)[235] = 0x2A; // RTSP 554
    (*reply)[238] = 0x1F;
    (*reply)[239] = 0x40; // mobile 8000
    (*reply)[248] = device.dhcp;
    (*reply)[249] = 4;
    return reply;
}

class Discovery : public test::MainWindowFixture {
protected:
    void Deliver(std::initializer_list<FakeDevice> devices)
    {
        for (const FakeDevice& device : devices) {
            {
                fw::ScopedLock lock(m_dialog.m_replyLock);
                m_dialog.m_replyQueue.push_back(MakeReply(device));
            }
            m_dialog.PostMessage(WM_SEARCH_REPLY);
        }
        test::PumpMessages(m_dialog.m_hWnd);
    }

    int Rows() const { return m_dialog.m_deviceList.GetItemCount(); }
    std::wstring Cell(int row, int column) const
    {
        return m_dialog.m_deviceList.GetItemText(row, column);
    }

    // A click as the list reports it: the pointer on the row's centre, then NM_CLICK.
    void ClickRow(int row, UINT code = NM_CLICK)
    {
        RECT rect{LVIR_BOUNDS, 0, 0, 0};
        m_dialog.m_deviceList.SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(row),
                                          reinterpret_cast<LPARAM>(&rect));
        POINT centre{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
        if (row < 0)
            centre = POINT{20, m_dialog.m_deviceList.GetClientRect().bottom - 5};
        ::ClientToScreen(m_dialog.m_deviceList.m_hWnd, &centre);
        ::SetCursorPos(centre.x, centre.y);
        NMITEMACTIVATE notify{};
        notify.hdr.hwndFrom = m_dialog.m_deviceList.m_hWnd;
        notify.hdr.idFrom = IDC_DEVICE_LIST;
        notify.hdr.code = code;
        notify.iItem = row;
        m_dialog.SendMessage(WM_NOTIFY, IDC_DEVICE_LIST, reinterpret_cast<LPARAM>(&notify));
    }

    DWORD Address(int id) const
    {
        DWORD value = 0;
        m_dialog.GetDlgItem(id).SendMessage(IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&value));
        return value;
    }
};

TEST_F(Discovery, ListsEachDeviceOnceWithItsFirstAnswer)
{
    Deliver({{"IPCAMERA", "10.77.1.10", 1, 1},
             {"ENCODER", "10.77.1.11", 2, 0},  // not a device kind the tool lists
             {"ipcamera", "10.77.1.12", 3, 0}, // the kinds are case-sensitive
             {"IPCAMERA", "10.78.1.10", 1, 0}, // the same device on another interface
             {"HDDVR", "10.77.1.13", 4, 2},
             {"NVR", "10.77.1.14", 5, 0, "4.1.9.5", 8080}});
    ASSERT_EQ(Rows(), 3);
    EXPECT_EQ(Cell(0, kColumnIpAddress), L"10.77.1.10");
    EXPECT_EQ(Cell(0, kColumnDhcp), L"Open");
    EXPECT_EQ(Cell(1, kColumnModel), L"HDDVR");
    EXPECT_EQ(Cell(1, kColumnDhcp), L"Close"); // 2 means off
    EXPECT_EQ(Cell(2, kColumnHttpPort), L"8080");
    EXPECT_EQ(Cell(2, kColumnMac), L"00:1A:2B:3C:4D:05");
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(Cell(row, kColumnIndex), std::to_wstring(row + 1));
    // Every queued reply was taken and freed; extra notifications find the queue empty.
    EXPECT_TRUE(m_dialog.m_replyQueue.empty());
    m_dialog.PostMessage(WM_SEARCH_REPLY);
    test::PumpMessages(m_dialog.m_hWnd);
    EXPECT_EQ(Rows(), 3);
}

TEST_F(Discovery, RowAddedAfterASortGoesToTheBottomWithTheNextNumber)
{
    Deliver({{"NVR", "10.77.1.14", 5, 0, "4.1.9.5"}, {"DVR", "10.77.1.13", 4, 0, "4.1.46.5"}});
    NMLISTVIEW click{};
    click.hdr = {m_dialog.m_deviceList.m_hWnd, IDC_DEVICE_LIST, static_cast<UINT>(LVN_COLUMNCLICK)};
    click.iSubItem = kColumnFirmware;
    click.iItem = -1;
    m_dialog.SendMessage(WM_NOTIFY, IDC_DEVICE_LIST, reinterpret_cast<LPARAM>(&click));
    click.hdr.code = LVN_COLUMNCLICK; // again: descending
    m_dialog.SendMessage(WM_NOTIFY, IDC_DEVICE_LIST, reinterpret_cast<LPARAM>(&click));
    ASSERT_EQ(Cell(0, kColumnFirmware), L"4.1.46.5");

    Deliver({{"IPCAMERA", "10.77.1.10", 1, 0, "4.0.0.1"}});
    ASSERT_EQ(Rows(), 3);
    EXPECT_EQ(Cell(2, kColumnIpAddress), L"10.77.1.10");
    EXPECT_EQ(Cell(2, kColumnIndex), L"3");
}

TEST_F(Discovery, RowClickFillsTheFormAndTheSelectedDevice)
{
    Deliver({{"NVR", "10.77.1.14", 5, 0, "4.1.9.5", 8080}, {"IPCAMERA", "10.77.1.10", 1, 1}});
    m_dialog.GetDlgItem(IDC_USERNAME).SetWindowText(L"installer");
    m_dialog.GetDlgItem(IDC_PASSWORD).SetWindowText(L"secret");
    m_dialog.GetDlgItem(IDC_HTTP_PORT).SetWindowText(L"1234");

    ClickRow(0);
    EXPECT_EQ(Address(IDC_NEW_IP), 0x0A4D010Eu);
    EXPECT_EQ(Address(IDC_OLD_IP), 0x0A4D010Eu);
    EXPECT_EQ(Address(IDC_NETMASK), 0xFFFF0000u);
    EXPECT_EQ(Address(IDC_GATEWAY), 0x0A4D0001u);
    EXPECT_EQ(Address(IDC_DNS), 0x0A4D0035u);
    EXPECT_EQ(m_dialog.GetDlgItem(IDC_HTTP_PORT).GetWindowText(), L"8080");
    EXPECT_EQ(m_dialog.GetDlgItem(IDC_RTSP_PORT).GetWindowText(), L"554");
    EXPECT_EQ(m_dialog.GetDlgItem(IDC_MOBILE_PORT).GetWindowText(), L"8000");
    EXPECT_EQ(m_dialog.GetDlgItem(IDC_PASSWORD).GetWindowText(), L"");
    EXPECT_EQ(m_dialog.GetDlgItem(IDC_USERNAME).GetWindowText(), L"installer");
    EXPECT_EQ(m_dialog.m_deviceIpText, L"10.77.1.14");
    EXPECT_EQ(m_dialog.m_deviceHttpPort, L"8080");
    EXPECT_EQ(m_dialog.m_deviceModel, L"NVR");
    EXPECT_EQ(m_dialog.m_deviceType, L"300");
    EXPECT_EQ(m_dialog.m_deviceFirmware, L"4.1.9.5");
    EXPECT_EQ(m_dialog.m_deviceMac, L"00:1A:2B:3C:4D:05");
    EXPECT_EQ(m_dialog.GetDlgItem(IDC_DHCP).SendMessage(BM_GETCHECK), BST_UNCHECKED);
    for (int id : {IDC_NEW_IP, IDC_NETMASK, IDC_GATEWAY, IDC_DNS})
        EXPECT_TRUE(m_dialog.GetDlgItem(id).IsWindowEnabled()) << id;

    ClickRow(1); // DHCP "Open"
    EXPECT_EQ(m_dialog.GetDlgItem(IDC_DHCP).SendMessage(BM_GETCHECK), BST_CHECKED);
    for (int id : {IDC_NEW_IP, IDC_NETMASK, IDC_GATEWAY, IDC_DNS})
        EXPECT_FALSE(m_dialog.GetDlgItem(id).IsWindowEnabled()) << id;
    EXPECT_EQ(m_dialog.m_deviceIpText, L"10.77.1.10");

    // Below the last row nothing changes.
    ClickRow(-1);
    EXPECT_EQ(m_dialog.m_deviceIpText, L"10.77.1.10");
    EXPECT_EQ(Address(IDC_OLD_IP), 0x0A4D010Au);
}

TEST_F(Discovery, DhcpBoxSwitchesTheAddressFieldsKeepingTheirValues)
{
    m_dialog.GetDlgItem(IDC_NEW_IP).SendMessage(IPM_SETADDRESS, 0, MAKEIPADDRESS(10, 1, 2, 3));
    m_dialog.GetDlgItem(IDC_DHCP).SendMessage(BM_CLICK);
    test::PumpMessages(m_dialog.m_hWnd);
    for (int id : {IDC_NEW_IP, IDC_NETMASK, IDC_GATEWAY, IDC_DNS})
        EXPECT_FALSE(m_dialog.GetDlgItem(id).IsWindowEnabled()) << id;
    m_dialog.GetDlgItem(IDC_DHCP).SendMessage(BM_CLICK);
    test::PumpMessages(m_dialog.m_hWnd);
    for (int id : {IDC_NEW_IP, IDC_NETMASK, IDC_GATEWAY, IDC_DNS})
        EXPECT_TRUE(m_dialog.GetDlgItem(id).IsWindowEnabled()) << id;
    EXPECT_EQ(Address(IDC_NEW_IP), 0x0A010203u);
}

TEST_F(Discovery, DoubleClickOpensTheRowsWebPage)
{
    const char* log = std::getenv("TESSARIN_BROWSER_LOG");
    ASSERT_NE(log, nullptr) << "runs inside the sandbox";
    Deliver({{"NVR", "10.77.1.14", 5, 0, "4.1.9.5", 8080}});

    ClickRow(-1, NM_DBLCLK); // empty part of the list: nothing opens
    ClickRow(0, NM_DBLCLK);
    // Wine hands the URL to its browser program, which logs it; that takes a moment.
    std::string opened;
    for (int i = 0; i < 100 && opened.empty(); ++i) {
        ::Sleep(100);
        std::ifstream file(log);
        std::getline(file, opened);
    }
    // Wine's hand-over adds the empty path's slash.
    EXPECT_TRUE(opened == "http://10.77.1.14:8080" || opened == "http://10.77.1.14:8080/")
        << opened;
}

TEST(DiscoveryTeardown, ClosingFreesQueuedRepliesAndClosesSocketsOnce)
{
    CKorvaleDlg dialog;
    const INT_PTR result = test::RunModal(
        dialog, {[&] {
                     dialog.RefreshEndpoints();
                     fw::ScopedLock lock(dialog.m_replyLock);
                     dialog.m_replyQueue.push_back(MakeReply({"NVR", "10.77.1.14", 5, 0}));
                 },
                 [&] { dialog.PostMessage(WM_CLOSE); }});
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(dialog.m_replyQueue.empty());
    EXPECT_TRUE(dialog.m_receiverStopped);
    for (const DiscoveryEndpoint& endpoint : dialog.m_endpoints)
        EXPECT_FALSE(endpoint.socket);
    EXPECT_EQ(dialog.m_deviceList.m_hWnd, nullptr);
}

TEST(DiscoveryTeardown, SecondSearchReusesTheEndpoints)
{
    CKorvaleDlg dialog;
    ASSERT_TRUE(dialog.Create(IDD_MAIN, nullptr));
    dialog.GetDlgItem(IDC_SEARCH).SendMessage(BM_CLICK);
    std::vector<net::SocketHandle> first;
    for (const DiscoveryEndpoint& endpoint : dialog.m_endpoints)
        first.push_back(endpoint.socket.Get());
    dialog.GetDlgItem(IDC_SEARCH).SendMessage(BM_CLICK);
    std::vector<net::SocketHandle> second;
    for (const DiscoveryEndpoint& endpoint : dialog.m_endpoints)
        second.push_back(endpoint.socket.Get());
    EXPECT_EQ(first, second);
    dialog.DestroyWindow();
}

} // namespace

namespace {

// Sends `datagram` from loopback to every endpoint of the window.
void SendToEndpoints(const CKorvaleDlg& dialog, const char* data, int length)
{
    SOCKET sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    for (const DiscoveryEndpoint& endpoint : dialog.m_endpoints) {
        sockaddr_in to{};
        int size = sizeof(to);
        if (!endpoint.socket ||
            ::getsockname(endpoint.socket.Get(), reinterpret_cast<sockaddr*>(&to), &size) != 0)
            continue;
        ::sendto(sender, data, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    }
    ::closesocket(sender);
}

TEST_F(Discovery, GarbageOfEveryLengthNeitherStopsTheReceiverNorAddsRows)
{
    // The application starts Winsock in its own start-up, which this test does not run.
    WSADATA winsock;
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &winsock), 0);
    m_dialog.RefreshEndpoints();
    ASSERT_FALSE(m_dialog.m_endpoints.empty()) << "the sandbox has a loopback address";

    // Every length from 0 to 2000 bytes, some starting like a reply of the wrong kind.
    std::string junk(2000, '\x5A');
    std::memcpy(junk.data(), "searching..", 12);
    for (int length = 0; length <= 2000; ++length) {
        junk[12] = static_cast<char>(length % 2 == 0 ? 2 : 3);
        SendToEndpoints(m_dialog, junk.data(), length);
        if (length % 100 == 0)
            test::PumpMessages(m_dialog.m_hWnd);
    }
    // A real reply still gets through afterwards, and only it becomes a row.
    const auto reply = MakeReply({"IPCAMERA", "10.77.1.10", 1, 0});
    SendToEndpoints(m_dialog, reinterpret_cast<const char*>(reply->data()),
                    static_cast<int>(reply->size()));
    for (int i = 0; i < 50 && m_dialog.m_deviceList.GetItemCount() == 0; ++i) {
        ::Sleep(20);
        test::PumpMessages(m_dialog.m_hWnd);
    }
    ASSERT_EQ(m_dialog.m_deviceList.GetItemCount(), 1);
    EXPECT_EQ(m_dialog.m_deviceList.GetItemText(0, kColumnIpAddress), L"10.77.1.10");
    for (const DiscoveryEndpoint& endpoint : m_dialog.m_endpoints)
        EXPECT_TRUE(endpoint.socket) << "no endpoint died of an oversized datagram";
    m_dialog.StopDiscovery();
    ::WSACleanup();
}

} // namespace

namespace {

TEST_F(Discovery, SixtyFiveEndpointsAreServedUpToTheSixtyFourthWithoutHarm)
{
    WSADATA winsock;
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &winsock), 0);
    // As many endpoints as a host with 65 addresses would get, all on loopback here.
    {
        fw::ScopedLock lock(m_dialog.m_endpointLock);
        for (int i = 0; i < 65; ++i) {
            net::UniqueSocket socket(::socket(AF_INET, SOCK_DGRAM, 0));
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ASSERT_EQ(::bind(socket.Get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)), 0);
            m_dialog.m_endpoints.push_back(DiscoveryEndpoint{std::move(socket), INADDR_LOOPBACK});
        }
    }
    auto sendTo = [&](const DiscoveryEndpoint& endpoint, const FakeDevice& device) {
        sockaddr_in to{};
        int size = sizeof(to);
        ::getsockname(endpoint.socket.Get(), reinterpret_cast<sockaddr*>(&to), &size);
        const auto reply = MakeReply(device);
        SOCKET sender = ::socket(AF_INET, SOCK_DGRAM, 0);
        ::sendto(sender, reinterpret_cast<const char*>(reply->data()),
                 static_cast<int>(reply->size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
        ::closesocket(sender);
    };
    // The 65th endpoint is not read; the 64th and the first are.
    sendTo(m_dialog.m_endpoints.back(), {"NVR", "10.77.2.65", 65, 0});
    sendTo(*std::next(m_dialog.m_endpoints.begin(), 63), {"NVR", "10.77.2.64", 64, 0});
    sendTo(m_dialog.m_endpoints.front(), {"NVR", "10.77.2.1", 1, 0});
    for (int i = 0; i < 50 && m_dialog.m_deviceList.GetItemCount() < 2; ++i) {
        ::Sleep(20);
        test::PumpMessages(m_dialog.m_hWnd);
    }
    ::Sleep(300);
    test::PumpMessages(m_dialog.m_hWnd);
    ASSERT_EQ(m_dialog.m_deviceList.GetItemCount(), 2);
    std::set<std::wstring> listed{m_dialog.m_deviceList.GetItemText(0, kColumnIpAddress),
                                  m_dialog.m_deviceList.GetItemText(1, kColumnIpAddress)};
    EXPECT_EQ(listed, (std::set<std::wstring>{L"10.77.2.1", L"10.77.2.64"}));
    m_dialog.StopDiscovery();
    ::WSACleanup();
}

} // namespace
