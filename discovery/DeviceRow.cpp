#include "DeviceRow.h"

bool IsListedModel(std::string_view model)
{
    for (std::string_view kind : {"DVR", "IPCAMERA", "DECODER", "NVR"})
        if (model.find(kind) != std::string_view::npos)
            return true;
    return false;
}

std::array<std::string, kDeviceColumnCount> DeviceRowTexts(const SearchReply& reply,
                                                           int rowNumber)
{
    return {std::to_string(rowNumber),
            reply.model,
            reply.deviceName,
            reply.firmwareVersion,
            reply.ipAddress,
            reply.subnetMask,
            reply.gateway,
            reply.dns,
            MacText(reply.mac),
            std::to_string(reply.httpPort),
            std::to_string(reply.rtspPort),
            std::to_string(reply.mobilePort),
            std::to_string(reply.channelCount),
            reply.dhcpEnabled == 1 ? "Open" : "Close",
            std::to_string(reply.deviceType)};
}
