#include "CredentialQuery.h"

#include "http/Base64.h"

#include <cstdint>

std::string_view CredentialQueryPath(std::string_view model)
{
    if (model.find("IPCAMERA") != std::string_view::npos)
        return "/vb.htm?paratest=authority";
    if (model.find("NVR") != std::string_view::npos)
        return "/vb.htm?getserialnum=";
    if (model.find("DVR") != std::string_view::npos)
        return "/vb.htm?getlongsesn=";
    return {};
}

std::optional<std::string> BasicToken(std::string_view userColonPassword)
{
    const std::string_view text = userColonPassword.substr(0, userColonPassword.find('\0'));
    if (text.size() > kMaxCredentialBytes)
        return std::nullopt;
    char token[512] = {};
    Base64Encode(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), token);
    return std::string(token);
}
