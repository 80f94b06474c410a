// devsim: plays network video devices on the test LAN, one process per device namespace.
//
//   devsim --config FILE --log FILE [--interface IFNAME] [--bind ADDR] [--port N]
//
// Prints "devsim ready" once its sockets are bound (discovery, the web server on every device's
// http_port, the library protocol on every library_port), then serves until SIGTERM or SIGINT
// (exit 0). Every request it receives goes to the log file, one JSON object a line. Errors go to
// stderr with exit status 1. --port is for local trials only: the tool always uses 6789.
// --interface also allows the reboot to switch off ICMP echo replies in the namespace.
#include "Config.h"
#include "Datagrams.h"
#include "DiscoveryService.h"
#include "EventLoop.h"
#include "HttpPortService.h"
#include "InterfaceAddress.h"
#include "JsonLog.h"
#include "LibraryService.h"
#include "Reboot.h"

#include <signal.h>

#include <atomic>
#include <charconv>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace {

struct Options {
    std::string configPath;
    std::string logPath;
    std::string interfaceName;
    std::string bindAddress = "0.0.0.0";
    std::uint16_t port = devsim::kDiscoveryPort;
};

constexpr char kUsage[] =
    "usage: devsim --config FILE --log FILE [--interface IFNAME] [--bind ADDR] [--port N]\n";

int Fail(const std::string& message)
{
    std::fprintf(stderr, "devsim: %s\n", message.c_str());
    return 1;
}

// Returns an error text, empty when the options are usable.
std::string ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name != "--config" && name != "--log" && name != "--interface" && name != "--bind" &&
            name != "--port")
            return "unknown option " + std::string(name);
        if (i + 1 >= argc)
            return "option " + std::string(name) + " needs a value";
        const std::string value = argv[++i];
        if (name == "--config") {
            options.configPath = value;
        } else if (name == "--log") {
            options.logPath = value;
        } else if (name == "--interface") {
            options.interfaceName = value;
        } else if (name == "--bind") {
            options.bindAddress = value;
        } else { // --port
            unsigned port = 0;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), port);
            if (error != std::errc{} || end != value.data() + value.size() || port > 65535)
                return "--port " + value + ": not a port number";
            options.port = static_cast<std::uint16_t>(port);
        }
    }
    if (options.configPath.empty() || options.logPath.empty())
        return "--config and --log are required";
    return {};
}

std::atomic<devsim::EventLoop*> g_loop{nullptr};

extern "C" void OnStopSignal(int)
{
    if (devsim::EventLoop* loop = g_loop.load())
        loop->RequestStop();
}

void InstallSignalHandlers()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // Later TCP services must not die when the tool drops a connection mid-write.
    signal(SIGPIPE, SIG_IGN);
}

int Run(const Options& options)
{
    const devsim::ConfigResult config = devsim::LoadConfigFile(options.configPath);
    if (config.error) {
        const std::string where =
            config.error->line > 0 ? options.configPath + ':' + std::to_string(config.error->line)
                                   : options.configPath;
        return Fail(where + ": " + config.error->message);
    }
    std::vector<devsim::Device> devices = devsim::ExpandClones(config.devices);

    devsim::JsonLog log;
    if (!log.Open(options.logPath))
        return Fail("cannot open log file " + options.logPath);

    devsim::EventLoop loop;
    // From here a stop signal ends the run cleanly, even one that comes before "ready".
    g_loop = &loop;
    InstallSignalHandlers();

    devsim::DiscoveryService::AddressMover mover;
    if (!options.interfaceName.empty())
        mover = [&](const devsim::AddressChange& change) {
            devsim::MoveInterfaceAddress(options.interfaceName, change, log);
        };
    devsim::DiscoveryService discovery(loop, devices, log, mover);
    if (std::string error = discovery.Open(options.bindAddress, options.port); !error.empty())
        return Fail(error);

    // Declared before the services, so it outlives them and puts the echo replies back last.
    devsim::IcmpEchoSwitch icmp;
    const std::string icmpRefusal = devsim::IcmpSwitchRefusal(!options.interfaceName.empty());
    devsim::RebootService reboot(loop, devices, log, icmpRefusal.empty() ? &icmp : nullptr,
                                 icmpRefusal);
    devsim::HttpPortService http(
        loop, devices, log, [&reboot](std::size_t device) { reboot.PackageInstalled(device); });
    if (std::string error = http.Open(options.bindAddress); !error.empty())
        return Fail(error);
    devsim::LibraryService library(
        loop, devices, log, [&reboot](std::size_t device) { reboot.PackageInstalled(device); });
    if (std::string error = library.Open(options.bindAddress); !error.empty())
        return Fail(error);
    discovery.SetSettingsObserver(
        [&http, &library](std::size_t device, const devsim::DeviceSettings& before) {
            http.SettingsChanged(device, before);
            library.SettingsChanged(device, before);
        });

    const auto jsonList = [](const std::vector<std::string>& items) {
        std::string list;
        for (const std::string& item : items)
            list += (list.empty() ? "" : ",") + devsim::JsonQuoted(item);
        return '[' + list + ']';
    };
    devsim::JsonLine ready("ready");
    ready.Text("bind", options.bindAddress + ':' + std::to_string(discovery.Port()))
        .Number("devices", static_cast<long long>(devices.size()))
        .Raw("http", jsonList(http.Endpoints()))
        .Raw("library", jsonList(library.Endpoints()));
    if (icmpRefusal.empty())
        ready.Raw("icmp_switch", "true");
    else
        ready.Raw("icmp_switch", "false").Text("icmp_switch_refusal", icmpRefusal);
    log.Write(ready);
    std::printf("devsim ready\n");
    std::fflush(stdout);

    loop.Run();
    g_loop = nullptr;
    log.Write(devsim::JsonLine("stop"));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (std::string error = ParseOptions(argc, argv, options); !error.empty()) {
        std::fputs(kUsage, stderr);
        return Fail(error);
    }
    try {
        return Run(options);
    } catch (const std::exception& error) {
        return Fail(error.what());
    }
}
