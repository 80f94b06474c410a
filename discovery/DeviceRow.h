// A device's row in the device list, made from its search reply.
#pragma once

#include "Datagrams.h"

#include <array>
#include <string>
#include <string_view>

constexpr int kDeviceColumnCount = 15;

// The columns of the device list, as a row click reads them back.
enum DeviceColumn {
    kColumnIndex = 0,
    kColumnModel = 1,
    kColumnDeviceName = 2,
    kColumnFirmware = 3,
    kColumnIpAddress = 4,
    kColumnSubnetMask = 5,
    kColumnGateway = 6,
    kColumnDns = 7,
    kColumnMac = 8,
    kColumnHttpPort = 9,
    kColumnRtspPort = 10,
    kColumnMobilePort = 11,
    kColumnChannels = 12,
    kColumnDhcp = 13,
    kColumnType = 14,
};

// Only devices of these kinds are listed: the model text holds "DVR", "IPCAMERA", "DECODER" or
// "NVR" (case-sensitive, anywhere).
bool IsListedModel(std::string_view model);

// The fifteen texts of a row, 8-bit (ANSI) as the reply holds them; `rowNumber` is the Index.
std::array<std::string, kDeviceColumnCount> DeviceRowTexts(const SearchReply& reply,
                                                           int rowNumber);
