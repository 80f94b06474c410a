// The "reboot" after a successful upgrade: the device goes quiet for a while, then comes back.
// Quiet means no search replies, no web server and, on the test LAN, no ICMP echo replies: the
// tool watches the reboot with pings. Echo replies are switched off for the whole network
// namespace with the per-namespace sysctl net.ipv4.icmp_echo_ignore_all, which is only right
// because every devsim on the test LAN has a namespace of its own.
#pragma once

#include "Device.h"
#include "EventLoop.h"
#include "JsonLog.h"

#include <chrono>
#include <cstddef>
#include <set>
#include <string>
#include <vector>

namespace devsim {

inline constexpr char kIcmpEchoIgnoreAllPath[] = "/proc/sys/net/ipv4/icmp_echo_ignore_all";

// Why echo replies must be left alone here, or empty when they may be switched: only with
// --interface (on the test LAN), and never in the machine's own network namespace (the kernel's
// initial one, PID 1's when it can be read, or $TESSARIN_SANDBOX_OUTER_NETNS).
std::string IcmpSwitchRefusal(bool hasInterface);

// Writes the sysctl. Nested: echo replies come back when the last Silence is undone, and the
// value found before the first one is put back, also when the object dies first.
class IcmpEchoSwitch {
public:
    explicit IcmpEchoSwitch(std::string path = kIcmpEchoIgnoreAllPath);
    ~IcmpEchoSwitch();
    IcmpEchoSwitch(const IcmpEchoSwitch&) = delete;
    IcmpEchoSwitch& operator=(const IcmpEchoSwitch&) = delete;

    // Each returns an error text, empty on success.
    std::string Silence();
    std::string Restore();

private:
    std::string m_path;
    std::string m_original;
    unsigned m_depth = 0;
};

struct RebootPlan {
    bool reboots = false;
    std::chrono::milliseconds delay{0};
    std::chrono::milliseconds duration{0};
    bool switchesIcmp = false;
    std::string icmpUntouchedReason; // when it reboots without switching echo replies
};

// icmpRefusal: IcmpSwitchRefusal's answer. Only a package with result 0 reboots the device, and
// not when reboot_ms is 0. A clone's address is not on the interface, so its reboot leaves the
// echo replies alone.
RebootPlan PlanReboot(const Device& device, const std::string& icmpRefusal);

class RebootService {
public:
    // icmp: the switch to use, or null together with the reason it must not be touched.
    RebootService(EventLoop& loop, std::vector<Device>& devices, JsonLog& log, IcmpEchoSwitch* icmp,
                  std::string icmpRefusal);

    // The device has received a whole package; it reboots if the plan says so.
    void PackageInstalled(std::size_t deviceIndex);

private:
    void GoDown(std::size_t deviceIndex, const RebootPlan& plan);
    void ComeUp(std::size_t deviceIndex, const RebootPlan& plan);

    EventLoop& m_loop;
    std::vector<Device>& m_devices;
    JsonLog& m_log;
    IcmpEchoSwitch* m_icmp;
    std::string m_icmpRefusal;
    // Devices with a reboot planned or under way: a second package does not stack another.
    std::set<std::size_t> m_pending;
};

} // namespace devsim
