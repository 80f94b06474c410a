// The credential check: one authenticated request to the selected device's CGI page, whose
// answer must carry "200 OK".
#include "KorvaleDlg.h"

#include "CredentialQuery.h"
#include "framework/Text.h"
#include "http/HttpRequest.h"

int CKorvaleDlg::CheckCredentials(std::wstring userName, std::wstring password)
{
    UpdateData(TRUE);

    // The token is replaced before anything is sent, also when the check then fails.
    const std::optional<std::string> token = BasicToken(fw::ToAnsi(userName + L":" + password));
    m_authToken = token.value_or(std::string());
    // Credentials too long for the token cannot be right for any device.
    if (!token)
        return 0;
    if (m_deviceModel.empty())
        return 0;
    // A device with no query (a decoder) is not asked at all: an empty address would send the
    // user's credentials to whatever the empty host name resolves to.
    const std::string_view path = CredentialQueryPath(fw::ToAnsi(m_deviceModel));
    if (path.empty())
        return 0;

    const std::string url =
        fw::ToAnsi(L"http://" + m_deviceIpText + L":" + m_deviceHttpPort) + std::string(path);
    CHttpRequest request;
    std::string requestText;
    std::string header;
    std::string body;
    if (HttpGet(request, url.c_str(), m_authToken.c_str(), requestText, header, body) !=
        kHttpGetOk)
        return 0;
    return header.find("200 OK") != std::string::npos ? 1 : 0;
}
