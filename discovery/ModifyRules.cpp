#include "ModifyRules.h"

namespace {

constexpr std::int32_t kReservedPorts[] = {4000, 8999};

bool IsReserved(std::int32_t port)
{
    for (std::int32_t reserved : kReservedPorts)
        if (port == reserved)
            return true;
    return false;
}

bool InRange(std::int32_t port, std::int32_t standard)
{
    return port == standard || (port >= 1025 && port <= 65534);
}

} // namespace

PortProblem CheckPorts(std::int32_t http, std::int32_t rtsp, std::int32_t mobile, bool isDvr)
{
    if (http == rtsp || mobile == http || (!isDvr && mobile == rtsp))
        return PortProblem::Repeated;
    if (IsReserved(http) || IsReserved(mobile) || IsReserved(rtsp))
        return PortProblem::Repeated;
    if (!isDvr && !InRange(rtsp, 554))
        return PortProblem::RtspOutOfRange;
    if (!InRange(http, 80))
        return PortProblem::HttpOutOfRange;
    return PortProblem::None;
}

bool IsUsableDeviceAddress(std::uint32_t address)
{
    const std::uint32_t last = address & 0xFF;
    return last != 0 && last != 255;
}

std::uint32_t DefaultGateway(std::uint32_t newAddress) { return (newAddress & 0xFFFFFF00u) | 1u; }

bool SameSegment(std::uint32_t gateway, std::uint32_t address)
{
    return (gateway & 0xFFFFFF00u) == (address & 0xFFFFFF00u);
}
