#include "Reboot.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace devsim {

namespace {

std::string LinkTarget(const char* path)
{
    char target[256] = {};
    const ssize_t length = ::readlink(path, target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

std::string WriteText(const std::string& path, const std::string& text)
{
    std::ofstream file(path);
    if (!file)
        return "cannot open " + path + ": " + std::strerror(errno);
    file << text;
    file.flush();
    if (!file)
        return "cannot write " + path + ": " + std::strerror(errno);
    return {};
}

} // namespace

std::string IcmpSwitchRefusal(bool hasInterface)
{
    if (!hasInterface)
        return "no --interface: not on the test LAN";
    const std::string own = LinkTarget("/proc/self/ns/net");
    if (own.empty())
        return "cannot tell which network namespace devsim runs in";
    // The machine's own namespace, as far as it can be known: the kernel's initial one (a fixed
    // inode number on recent kernels), PID 1's (often unreadable in a VM or container, even for
    // root), and the one the test LAN's scripts started from.
    const char* outerVariable = std::getenv("TESSARIN_SANDBOX_OUTER_NETNS");
    for (const std::string& machine :
         {std::string("net:[4026531833]"), LinkTarget("/proc/1/ns/net"),
          std::string(outerVariable ? outerVariable : "")})
        if (!machine.empty() && own == machine)
            return "devsim runs in the machine's own network namespace (" + own + ")";
    return {};
}

IcmpEchoSwitch::IcmpEchoSwitch(std::string path) : m_path(std::move(path)) {}

IcmpEchoSwitch::~IcmpEchoSwitch()
{
    if (m_depth > 0) {
        m_depth = 1;
        Restore();
    }
}

std::string IcmpEchoSwitch::Silence()
{
    if (m_depth == 0) {
        std::ifstream file(m_path);
        std::string value;
        if (!(file >> value))
            return "cannot read " + m_path;
        if (std::string error = WriteText(m_path, "1\n"); !error.empty())
            return error;
        m_original = value;
    }
    ++m_depth;
    return {};
}

std::string IcmpEchoSwitch::Restore()
{
    if (m_depth == 0)
        return {};
    if (--m_depth > 0)
        return {};
    return WriteText(m_path, m_original + "\n");
}

RebootPlan PlanReboot(const Device& device, const std::string& icmpRefusal)
{
    RebootPlan plan;
    const DeviceSettings& settings = device.settings;
    if (settings.upgradeResult != 0 || settings.rebootMs == 0)
        return plan;
    plan.reboots = true;
    plan.delay = std::chrono::milliseconds(settings.rebootDelayMs);
    plan.duration = std::chrono::milliseconds(settings.rebootMs);
    if (device.isClone)
        plan.icmpUntouchedReason = "a clone's address is not on the interface";
    else
        plan.icmpUntouchedReason = icmpRefusal;
    plan.switchesIcmp = plan.icmpUntouchedReason.empty();
    return plan;
}

RebootService::RebootService(EventLoop& loop, std::vector<Device>& devices, JsonLog& log,
                             IcmpEchoSwitch* icmp, std::string icmpRefusal)
    : m_loop(loop), m_devices(devices), m_log(log), m_icmp(icmp),
      m_icmpRefusal(std::move(icmpRefusal))
{
    if (!m_icmp && m_icmpRefusal.empty())
        m_icmpRefusal = "no echo switch";
}

void RebootService::PackageInstalled(std::size_t deviceIndex)
{
    const RebootPlan plan = PlanReboot(m_devices[deviceIndex], m_icmpRefusal);
    if (!plan.reboots || !m_pending.insert(deviceIndex).second)
        return;
    m_loop.After(plan.delay, [this, deviceIndex, plan] { GoDown(deviceIndex, plan); });
}

void RebootService::GoDown(std::size_t deviceIndex, const RebootPlan& plan)
{
    Device& device = m_devices[deviceIndex];
    device.state.rebooting = true;
    JsonLine line("reboot");
    line.Text("phase", "down").Text("mac", FormatMac(device.settings.mac));
    // A failed Silence leaves nothing for the way up to undo.
    RebootPlan upPlan = plan;
    if (!plan.switchesIcmp) {
        line.Text("icmp", "untouched").Text("reason", plan.icmpUntouchedReason);
    } else if (std::string error = m_icmp->Silence(); !error.empty()) {
        line.Text("icmp", "error").Text("reason", error);
        upPlan.switchesIcmp = false;
        upPlan.icmpUntouchedReason = error;
    } else {
        line.Text("icmp", "ignored");
    }
    m_log.Write(line);
    m_loop.After(plan.duration, [this, deviceIndex, upPlan] { ComeUp(deviceIndex, upPlan); });
}

void RebootService::ComeUp(std::size_t deviceIndex, const RebootPlan& plan)
{
    Device& device = m_devices[deviceIndex];
    JsonLine line("reboot");
    line.Text("phase", "up").Text("mac", FormatMac(device.settings.mac));
    if (!plan.switchesIcmp) {
        line.Text("icmp", "untouched");
    } else if (std::string error = m_icmp->Restore(); !error.empty()) {
        line.Text("icmp", "error").Text("reason", error);
    } else {
        line.Text("icmp", "answered");
    }
    device.state.rebooting = false;
    m_pending.erase(deviceIndex);
    m_log.Write(line);
}

} // namespace devsim
