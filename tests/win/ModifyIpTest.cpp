// Modify IP through the real window: the order of its checks, each message, the credential
// request a device receives, and the gateway completion. A small HTTP peer on loopback plays
// the device's web interface.
#include "app/KorvaleDlg.h"
#include "resource.h"
#include "MainWindowFixture.h"
#include "WindowTestSupport.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <winsock2.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Accepts connections on 127.0.0.1 and answers 200 to "admin:secret", 401 otherwise.
class FakeDevice {
public:
    FakeDevice()
    {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        int length = sizeof(address);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        ::listen(m_listener, 8);
        m_thread = std::thread([this] { Serve(); });
    }
    ~FakeDevice()
    {
        m_stop = true;
        ::closesocket(m_listener);
        m_thread.join();
        ::WSACleanup();
    }

    int Port() const { return m_port; }
    std::vector<std::string> Requests()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }

private:
    void Serve()
    {
        while (!m_stop) {
            SOCKET client = ::accept(m_listener, nullptr, nullptr);
            if (client == INVALID_SOCKET)
                return;
            std::string request;
            char byte;
            while (request.find("\r\n\r\n") == std::string::npos &&
                   ::recv(client, &byte, 1, 0) == 1)
                request += byte;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_requests.push_back(request);
            }
            const bool accepted =
                request.find("Authorization: Basic YWRtaW46c2VjcmV0\r\n") != std::string::npos;
            const std::string answer = accepted ? "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nok\n"
                                                : "HTTP/1.1 401 Unauthorized\r\n\r\n";
            ::send(client, answer.data(), static_cast<int>(answer.size()), 0);
            ::closesocket(client);
        }
    }

    SOCKET m_listener;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

HWND FindMessageBox()
{
    HWND found = nullptr;
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND window, LPARAM result) -> BOOL {
            wchar_t name[16];
            ::GetClassNameW(window, name, 16);
            if (std::wstring(name) == L"#32770" && ::IsWindowVisible(window) &&
                ::GetDlgItem(window, IDC_DEVICE_LIST) == nullptr) {
                *reinterpret_cast<HWND*>(result) = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// The texts of a message box's static controls.
std::wstring MessageText(HWND box)
{
    std::wstring text;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[16];
        ::GetClassNameW(child, name, 16);
        if (std::wstring(name) == L"Static")
            text += fw::CWindow(child).GetWindowText();
    }
    return text;
}

struct Form {
    const wchar_t* model = L"IPCAMERA";
    DWORD oldIp = 0x0A4D010A;
    DWORD newIp = 0x0A4D010B;
    DWORD gateway = 0x0A4D0101;
    const wchar_t* http = L"80";
    const wchar_t* rtsp = L"554";
    const wchar_t* mobile = L"8000";
    const wchar_t* password = L"secret";
};

class ModifyIp : public test::MainWindowFixture {
protected:
    void Fill(const Form& form)
    {
        m_dialog.m_deviceIpText = L"127.0.0.1";
        m_dialog.m_deviceHttpPort = std::to_wstring(m_device.Port());
        m_dialog.m_deviceModel = form.model;
        m_dialog.m_deviceMac = L"02:54:53:01:00:0A";
        m_dialog.m_oldIp = form.oldIp;
        m_dialog.m_newIp = form.newIp;
        m_dialog.m_gateway = form.gateway;
        m_dialog.m_httpPort = form.http;
        m_dialog.m_rtspPort = form.rtsp;
        m_dialog.m_mobilePort = form.mobile;
        m_dialog.m_password = form.password;
        m_dialog.UpdateData(FALSE);
    }

    // Presses Modify IP; returns the text of the message box it shows (answered with
    // `answer`), or an empty text when it shows none.
    std::wstring Press(int answer = IDOK)
    {
        std::wstring shown;
        test::RunScripted(
            [&] {
                m_dialog.SendMessage(
                    WM_COMMAND, MAKEWPARAM(IDC_MODIFY_IP, BN_CLICKED),
                    reinterpret_cast<LPARAM>(m_dialog.GetDlgItem(IDC_MODIFY_IP).m_hWnd));
                return 0;
            },
            &FindMessageBox,
            {[&] { shown = MessageText(FindMessageBox()); },
             [&] { ::PostMessageW(FindMessageBox(), WM_COMMAND, answer, 0); }},
            test::StepsMayStayUnrun::Yes);
        return shown;
    }

    FakeDevice m_device;
};

TEST_F(ModifyIp, BeforeAnyRowIsClickedNothingIsAsked)
{
    Fill(Form{.oldIp = 0});
    EXPECT_EQ(Press(), L"Invalid IP address");
    EXPECT_TRUE(m_device.Requests().empty());
}

TEST_F(ModifyIp, CredentialRequestIsExactlyTheCamerasQuery)
{
    Fill(Form{.http = L"8080", .rtsp = L"8080"});
    EXPECT_EQ(Press(), L"The port is repeated!");
    const std::vector<std::string> requests = m_device.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], "GET /vb.htm?paratest=authority HTTP/1.1\r\n"
                           "Accept: */*\r\n"
                           "Accept-Language: en-us\r\n"
                           "Accept-Encoding: gzip, default\r\n"
                           "User-Agent: http client\r\n"
                           "Authorization: Basic YWRtaW46c2VjcmV0\r\n"
                           "Host: 127.0.0.1\r\n"
                           "\r\n");
    EXPECT_EQ(m_dialog.m_authToken, "YWRtaW46c2VjcmV0");
}

TEST_F(ModifyIp, EachCheckSaysWhatIsWrongInItsOrder)
{
    const struct {
        const char* name;
        Form form;
        const wchar_t* message;
    } cases[] = {
        {"wrong password before port problems", Form{.http = L"1024", .password = L"wrong"},
         L"Password error!"},
        {"HTTP out of range", Form{.http = L"1024"},
         L"The effective value of HTTP port is 80 or from 1025 to 65534"},
        {"empty HTTP field", Form{.http = L""},
         L"The effective value of HTTP port is 80 or from 1025 to 65534"},
        {"RTSP out of range", Form{.rtsp = L"1000"},
         L"the effective value of RTSP port is 554 or from 1025 to 65534"},
        {"reserved port", Form{.mobile = L"4000"}, L"The port is repeated!"},
        {"new address ends in 255", Form{.newIp = 0x0A4D01FF}, L"Invalid IP address"},
        {"a recorder's credentials are asked with its own query",
         Form{.model = L"NVR", .password = L"wrong"}, L"Password error!"},
        {"a decoder has no query: refused without a request", Form{.model = L"DECODER"},
         L"Password error!"},
        {"a DVR's RTSP port is free", Form{.model = L"DVR", .rtsp = L"1000"}, L""},
        {"all good", Form{}, L""},
    };
    for (const auto& c : cases) {
        Fill(c.form);
        EXPECT_EQ(Press(), c.message) << c.name;
    }
    const std::vector<std::string> requests = m_device.Requests();
    ASSERT_EQ(requests.size(), 9u) << "every case but the decoder asks the device once";
    EXPECT_EQ(requests[6].rfind("GET /vb.htm?getserialnum= HTTP/1.1\r\n", 0), 0u) << requests[6];
    EXPECT_EQ(requests[7].rfind("GET /vb.htm?getlongsesn= HTTP/1.1\r\n", 0), 0u) << requests[7];
}

TEST_F(ModifyIp, EmptyGatewayIsFilledInWithoutAQuestion)
{
    Fill(Form{.newIp = 0x0A010203, .gateway = 0});
    EXPECT_EQ(Press(), L"");
    DWORD shown = 0;
    m_dialog.GetDlgItem(IDC_GATEWAY)
        .SendMessage(IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&shown));
    EXPECT_EQ(shown, 0x0A010201u);
}

TEST_F(ModifyIp, GatewayInAnotherSegmentIsQuestionedWhateverTheMask)
{
    Fill(Form{.newIp = 0x0A010203, .gateway = 0x0A010301});
    m_dialog.GetDlgItem(IDC_NETMASK).SendMessage(IPM_SETADDRESS, 0, MAKEIPADDRESS(255, 255, 0, 0));
    EXPECT_EQ(Press(IDCANCEL),
              L"IP address and gate way are not in the same network segment! are you sure modify?");
    DWORD shown = 0;
    m_dialog.GetDlgItem(IDC_GATEWAY)
        .SendMessage(IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&shown));
    EXPECT_EQ(shown, 0x0A010301u) << "the user's gateway stays";
}

} // namespace
