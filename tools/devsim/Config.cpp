#include "Config.h"

#include <charconv>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <numeric>
#include <set>
#include <sstream>

namespace devsim {

namespace {

std::string_view Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

template <typename Int> std::optional<Int> ParseInteger(std::string_view text, Int min, Int max)
{
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < min ||
        value > max)
        return std::nullopt;
    return static_cast<Int>(value);
}

std::optional<std::array<std::uint8_t, 10>> ParseModelHex(std::string_view text)
{
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != ':')
            digits += c;
    if (digits.empty() || digits.size() % 2 != 0 || digits.size() > 20)
        return std::nullopt;
    std::array<std::uint8_t, 10> bytes{};
    for (std::size_t i = 0; i < digits.size() / 2; ++i) {
        unsigned value = 0;
        const char* begin = digits.data() + i * 2;
        const auto [end, error] = std::from_chars(begin, begin + 2, value, 16);
        if (error != std::errc{} || end != begin + 2)
            return std::nullopt;
        bytes[i] = static_cast<std::uint8_t>(value);
    }
    return bytes;
}

// A key's setter returns an error message, or an empty string when the value was taken.
using Setter = std::function<std::string(DeviceConfig&, std::string_view)>;

Setter Text(std::string DeviceSettings::*field)
{
    return [field](DeviceConfig& config, std::string_view value) {
        config.settings.*field = std::string(value);
        return std::string();
    };
}

Setter Address(std::string DeviceSettings::*field, bool mayBeEmpty)
{
    return [field, mayBeEmpty](DeviceConfig& config, std::string_view value) {
        if (!(mayBeEmpty && value.empty()) && !ParseDottedQuad(value))
            return std::string("expected a dotted IPv4 address");
        config.settings.*field = std::string(value);
        return std::string();
    };
}

template <typename Int, typename Owner, typename Target>
Setter Number(Int Target::*field, Int min, Int max, Owner& (*owner)(DeviceConfig&))
{
    return [=](DeviceConfig& config, std::string_view value) {
        const auto number = ParseInteger<Int>(value, min, max);
        if (!number)
            return "expected a whole number from " + std::to_string(min) + " to " +
                   std::to_string(max);
        owner(config).*field = *number;
        return std::string();
    };
}

// A JSON number without exponent: "0", "87.9", "-3", "101". The progress values go into the
// log as they are, so they must be valid JSON.
bool IsPlainNumber(std::string_view text)
{
    if (text.starts_with('-'))
        text.remove_prefix(1);
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const auto allDigits = [](std::string_view digits) {
        return !digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (!allDigits(whole) || (whole.size() > 1 && whole.front() == '0'))
        return false;
    return point == std::string_view::npos || allDigits(text.substr(point + 1));
}

std::string SetHttpBehaviour(DeviceConfig& config, std::string_view value)
{
    DeviceSettings& settings = config.settings;
    if (value == "normal") {
        settings.httpBehaviour = HttpBehaviour::Normal;
    } else if (value == "silent") {
        settings.httpBehaviour = HttpBehaviour::Silent;
    } else if (value == "close") {
        settings.httpBehaviour = HttpBehaviour::Close;
    } else if (value.starts_with("status:")) {
        const auto status = ParseInteger<int>(value.substr(7), 100, 599);
        if (!status)
            return std::string("expected status:NNN with NNN from 100 to 599");
        settings.httpBehaviour = HttpBehaviour::Status;
        settings.httpStatus = *status;
    } else {
        return std::string("expected normal, silent, close or status:NNN");
    }
    return std::string();
}

std::string SetUpgradeAck(DeviceConfig& config, std::string_view value)
{
    if (value == "true" || value == "1")
        config.settings.upgradeAck = true;
    else if (value == "false" || value == "0")
        config.settings.upgradeAck = false;
    else
        return std::string("expected true or false");
    return std::string();
}

std::string SetUpgradeFinal(DeviceConfig& config, std::string_view value)
{
    if (value == "normal")
        config.settings.upgradeFinal = UpgradeFinal::Normal;
    else if (value == "none")
        config.settings.upgradeFinal = UpgradeFinal::None;
    else if (value == "garbage")
        config.settings.upgradeFinal = UpgradeFinal::Garbage;
    else if (value == "half")
        config.settings.upgradeFinal = UpgradeFinal::Half;
    else
        return std::string("expected normal, none, garbage or half");
    return std::string();
}

std::string SetProgressStep(DeviceConfig& config, std::string_view value)
{
    const auto step = ParseInteger<unsigned>(value, 1u, 100u);
    if (!step)
        return std::string("expected a whole number from 1 to 100");
    std::vector<std::string> values;
    for (unsigned percent = 0; percent < 100; percent += *step)
        values.push_back(std::to_string(percent));
    values.emplace_back("100");
    config.settings.progressValues = std::move(values);
    return std::string();
}

std::string SetProgressValues(DeviceConfig& config, std::string_view value)
{
    std::vector<std::string> values;
    for (;;) {
        const std::size_t comma = value.find(',');
        const std::string_view item = Trim(value.substr(0, comma));
        if (!IsPlainNumber(item))
            return std::string("expected numbers separated by commas, such as 30,87.9,100");
        values.emplace_back(item);
        if (comma == std::string_view::npos)
            break;
        value.remove_prefix(comma + 1);
    }
    config.settings.progressValues = std::move(values);
    return std::string();
}

DeviceSettings& SettingsOf(DeviceConfig& config)
{
    return config.settings;
}
DeviceConfig& ConfigOf(DeviceConfig& config)
{
    return config;
}

constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();

const std::map<std::string, Setter, std::less<>>& Setters()
{
    static const std::map<std::string, Setter, std::less<>> setters = {
        {"model", Text(&DeviceSettings::model)},
        {"name", Text(&DeviceSettings::name)},
        {"firmware", Text(&DeviceSettings::firmware)},
        {"user", Text(&DeviceSettings::user)},
        {"password", Text(&DeviceSettings::password)},
        {"ip", Address(&DeviceSettings::ip, false)},
        {"mask", Address(&DeviceSettings::mask, false)},
        {"gateway", Address(&DeviceSettings::gateway, true)},
        {"dns", Address(&DeviceSettings::dns, true)},
        {"mac",
         [](DeviceConfig& config, std::string_view value) {
             const auto mac = ParseMac(value);
             if (!mac)
                 return std::string("expected a MAC address as AA:BB:CC:DD:EE:FF");
             config.settings.mac = *mac;
             return std::string();
         }},
        {"http_port", Number(&DeviceSettings::httpPort, kInt32Min, kInt32Max, SettingsOf)},
        {"rtsp_port", Number(&DeviceSettings::rtspPort, kInt32Min, kInt32Max, SettingsOf)},
        {"mobile_port", Number(&DeviceSettings::mobilePort, kInt32Min, kInt32Max, SettingsOf)},
        {"type", Number(&DeviceSettings::type, kInt32Min, kInt32Max, SettingsOf)},
        {"channels",
         Number(&DeviceSettings::channels, std::uint8_t{0}, std::uint8_t{255}, SettingsOf)},
        {"dhcp", Number(&DeviceSettings::dhcp, std::uint8_t{0}, std::uint8_t{1}, SettingsOf)},
        {"dhcp_byte",
         Number(&DeviceSettings::dhcp, std::uint8_t{0}, std::uint8_t{255}, SettingsOf)},
        {"clones", Number(&DeviceConfig::clones, 0u, 100000u, ConfigOf)},
        {"reply_delay_ms", Number(&DeviceSettings::replyDelayMs, 0u, 600000u, SettingsOf)},
        {"reply_copies", Number(&DeviceSettings::replyCopies, 0u, 1000u, SettingsOf)},
        {"http_behaviour", SetHttpBehaviour},
        {"http_delay_ms", Number(&DeviceSettings::httpDelayMs, 0u, 600000u, SettingsOf)},
        {"upgrade_result",
         Number(&DeviceSettings::upgradeResult, kInt32Min, kInt32Max, SettingsOf)},
        {"upgrade_ack", SetUpgradeAck},
        {"upgrade_final", SetUpgradeFinal},
        {"upgrade_close_after",
         Number(&DeviceSettings::upgradeCloseAfter, std::uint32_t{0},
                std::numeric_limits<std::uint32_t>::max(), SettingsOf)},
        {"progress_step", SetProgressStep},
        {"progress_values", SetProgressValues},
        {"reboot_delay_ms", Number(&DeviceSettings::rebootDelayMs, 0u, 600000u, SettingsOf)},
        {"reboot_ms", Number(&DeviceSettings::rebootMs, 0u, 600000u, SettingsOf)},
        {"library_port",
         Number(&DeviceSettings::libraryPort, std::uint16_t{0}, std::uint16_t{65535}, SettingsOf)},
        {"library_install_ms", Number(&DeviceSettings::libraryInstallMs, 0u, 600000u, SettingsOf)},
        {"library_result",
         Number(&DeviceSettings::libraryResult, kInt32Min, kInt32Max, SettingsOf)},
        {"raw_model_hex",
         [](DeviceConfig& config, std::string_view value) {
             const auto bytes = ParseModelHex(value);
             if (!bytes)
                 return std::string("expected 1 to 10 bytes as hex digits");
             config.settings.rawModel = *bytes;
             return std::string();
         }},
    };
    return setters;
}

std::uint64_t MacNumber(const MacAddress& mac)
{
    return std::accumulate(
        mac.begin(), mac.end(), std::uint64_t{0},
        [](std::uint64_t number, std::uint8_t byte) { return number << 8 | byte; });
}

MacAddress MacFromNumber(std::uint64_t number)
{
    MacAddress mac{};
    for (std::size_t i = mac.size(); i-- > 0; number >>= 8)
        mac[i] = static_cast<std::uint8_t>(number & 0xFFu);
    return mac;
}

// The checks that need the whole section.
std::optional<std::string> CheckSection(const DeviceConfig& config,
                                        const std::set<std::string, std::less<>>& keys)
{
    for (const char* required : {"ip", "mac"})
        if (!keys.contains(required))
            return std::string("[device] section without ") + required;
    if (keys.contains("dhcp") && keys.contains("dhcp_byte"))
        return std::string("dhcp and dhcp_byte both given");
    if (keys.contains("progress_step") && keys.contains("progress_values"))
        return std::string("progress_step and progress_values both given");
    if (std::uint64_t{*ParseDottedQuad(config.settings.ip)} + config.clones > 0xFFFFFFFFu)
        return std::string("clones would run past IP address 255.255.255.255");
    if (MacNumber(config.settings.mac) + config.clones > 0xFFFFFFFFFFFFu)
        return std::string("clones would run past MAC address FF:FF:FF:FF:FF:FF");
    return std::nullopt;
}

} // namespace

ConfigResult ParseConfig(std::string_view text)
{
    ConfigResult result;
    std::set<std::string, std::less<>> keys; // of the open section
    int sectionLine = 0;
    const auto closeSection = [&]() -> bool {
        if (sectionLine == 0)
            return true;
        if (auto message = CheckSection(result.devices.back(), keys)) {
            result.error = ConfigError{sectionLine, *message};
            return false;
        }
        return true;
    };

    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);

        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        if (line.front() == '[') {
            if (line != "[device]") {
                result.error = ConfigError{lineNumber, "unknown section " + std::string(line) +
                                                           ", expected [device]"};
                return result;
            }
            if (!closeSection())
                return result;
            result.devices.emplace_back();
            keys.clear();
            sectionLine = lineNumber;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            result.error = ConfigError{lineNumber, "expected key = value"};
            return result;
        }
        const std::string_view key = Trim(line.substr(0, equals));
        const std::string_view value = Trim(line.substr(equals + 1));
        if (sectionLine == 0) {
            result.error = ConfigError{lineNumber, "key outside a [device] section"};
            return result;
        }
        const auto setter = Setters().find(key);
        if (setter == Setters().end()) {
            result.error = ConfigError{lineNumber, "unknown key " + std::string(key)};
            return result;
        }
        if (!keys.insert(std::string(key)).second) {
            result.error = ConfigError{lineNumber, "key " + std::string(key) + " given twice"};
            return result;
        }
        if (std::string message = setter->second(result.devices.back(), value); !message.empty()) {
            result.error = ConfigError{lineNumber, std::string(key) + ": " + message};
            return result;
        }
    }
    if (!closeSection())
        return result;
    if (result.devices.empty())
        result.error = ConfigError{0, "no [device] section"};
    return result;
}

ConfigResult LoadConfigFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        ConfigResult result;
        result.error = ConfigError{0, "cannot open " + path};
        return result;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return ParseConfig(text.str());
}

std::vector<Device> ExpandClones(const std::vector<DeviceConfig>& configs)
{
    std::vector<Device> devices;
    for (const DeviceConfig& config : configs) {
        devices.push_back(Device{config.settings, false, {}});
        const std::uint32_t ip = ParseDottedQuad(config.settings.ip).value_or(0);
        const std::uint64_t mac = MacNumber(config.settings.mac);
        for (unsigned k = 1; k <= config.clones; ++k) {
            Device clone{config.settings, true, {}};
            clone.settings.name += " #" + std::to_string(k);
            clone.settings.ip = FormatDottedQuad(ip + k);
            clone.settings.mac = MacFromNumber(mac + k);
            devices.push_back(std::move(clone));
        }
    }
    return devices;
}

} // namespace devsim
