// What a TCP upgrade runs on: the values it reads, copied when the upgrade starts, and the panel
// it reports to. The routines that use them (PackageUpload.h, ProgressPolling.h) are portable;
// the panel supplies the bar, the stop flag, the ICMP probes, the debugger trace and the sleeps,
// and the tests supply a scripted stand-in.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

// The three ways a device takes a package, chosen by the leading number of its Type column.
enum class UpgradeMechanism {
    Watch,   // 0 to 99 and 300 up: TCP upload, then the reboot watch with ICMP probes
    Poll,    // 200 to 299: TCP upload with the size field, then the progress page
    Library, // negative and 100 to 199: the client library on port 4000
};
UpgradeMechanism MechanismForType(std::int32_t type);

// A copy of everything the upgrade worker reads, taken by the panel on the user-interface thread
// when the upgrade starts, so that a click on another row or an edit of the form during the
// upgrade cannot change the target under the worker's feet. The texts that go on the wire are
// 8-bit text in the ANSI code page, converted once by the panel.
struct UpgradeJob {
    // The package file (the panel's m_strPackagePath).
    std::filesystem::path packagePath;
    // The selected device's "IP address" column: a dotted address or a host name.
    std::string deviceIpText;
    // The "HTTP Port" column as shown. The upload connects to its leading number; the progress
    // poll puts the text itself into its URL.
    std::string deviceHttpPort;
    // The "Type" column; its leading number picks the reboot watch's direction.
    std::string deviceType;
    // The panel's user name and password, for the progress poll's Basic authorization.
    std::string userName;
    std::string password;
};

// The panel's side of an upgrade, called on the worker thread. The panel implements it (the
// calls post or send to its windows, never touch them directly); the tests implement it with
// scripted answers.
class UpgradeSession {
public:
    virtual ~UpgradeSession() = default;

    // Moves the bar to `percent` (the active look). Called after the value has been stored in
    // m_nProgress, with that value.
    virtual void ShowProgress(std::int32_t percent) = 0;
    // False once the panel is being destroyed; the upgrade then ends as soon as it can.
    virtual bool KeepRunning() = 0;
    // One echo through the platform's ICMP service, 1 s wait; true when the device answered.
    virtual bool PingIcmp(const std::string& target) = 0;
    // One echo over a raw ICMP socket, 1 s wait; true when the device answered. The panel passes
    // the performance-counter frequency it needs for the round-trip time.
    virtual bool PingRaw(const std::string& target) = 0;
    // One line for the debugger output, line end included.
    virtual void Trace(const std::string& line) = 0;
    // Waits `milliseconds` unless KeepRunning turns false first; false when it did (at once when
    // it already was). The default sleeps in 100 ms slices and asks KeepRunning between them, so
    // a closing panel ends the worker well within the 2 s it waits for it.
    virtual bool SleepUnlessStopped(std::int32_t milliseconds);

    // Stores `percent` in m_nProgress and shows it.
    void SetProgress(std::int32_t percent)
    {
        m_nProgress.exchange(percent);
        ShowProgress(percent);
    }

    // The percentage the worker last stored, for the panel to read from any thread. Some steps
    // store a value without showing it (100 right after the final answer).
    std::atomic<std::int32_t> m_nProgress{0};
};
