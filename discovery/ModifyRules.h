// The rules a settings change must pass before it is sent, as plain functions: the port rules,
// usable device addresses and the gateway's completion.
#pragma once

#include <cstdint>

enum class PortProblem { None, Repeated, RtspOutOfRange, HttpOutOfRange };

// Two ports equal, or one of 4000 and 8999 (which the devices keep for themselves), is
// "repeated". HTTP must be 80 or 1025..65534; RTSP 554 or 1025..65534, except on a DVR, whose
// RTSP port is neither range-tested nor compared with the mobile port. The mobile port is never
// range-tested. The first rule that fails is reported.
PortProblem CheckPorts(std::int32_t http, std::int32_t rtsp, std::int32_t mobile, bool isDvr);

// An address whose last octet is 0 or 255 names no single device.
bool IsUsableDeviceAddress(std::uint32_t address);

// An empty gateway becomes the new address with the last octet 1.
std::uint32_t DefaultGateway(std::uint32_t newAddress);

// Whether the gateway shares the first three octets with the address; the mask plays no part.
bool SameSegment(std::uint32_t gateway, std::uint32_t address);
