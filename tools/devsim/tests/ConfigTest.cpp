#include "Config.h"

#include <gtest/gtest.h>

namespace devsim {
namespace {

TEST(Config, ReadsEveryKeyOfSeveralDevices)
{
    const char* text = "# two devices\r\n"
                       "[device]\r\n"
                       "model = NVR\r\n"
                       "name =  Back door; #2  \r\n" // no trailing comments
                       "firmware=2.0.1.7\n"
                       "ip = 10.77.0.21\n"
                       "mask = 255.255.0.0\n"
                       "gateway = 10.77.0.1\n"
                       "dns =\n"
                       "mac = 00:1a:2b:3c:4d:5e\n"
                       "http_port = 8080\n"
                       "rtsp_port = -1\n"
                       "mobile_port = 2147483647\n"
                       "channels = 255\n"
                       "dhcp_byte = 2\n"
                       "type = -2147483648\n"
                       "user = root\n"
                       "password = p=ss\n"
                       "clones = 3\n"
                       "reply_delay_ms = 50\n"
                       "raw_model_hex = 41 42 43\n"
                       "reply_copies = 0\n"
                       "\n"
                       "; the second one\n"
                       "  [device]  \n"
                       "ip = 10.77.0.22\n"
                       "mac = 00:1A:2B:3C:4D:5F\n"
                       "dhcp = 1\n";
    const ConfigResult result = ParseConfig(text);
    ASSERT_FALSE(result.error) << result.error->line << ": " << result.error->message;
    ASSERT_EQ(result.devices.size(), 2u);

    const DeviceSettings& first = result.devices[0].settings;
    EXPECT_EQ(first.model, "NVR");
    EXPECT_EQ(first.name, "Back door; #2");
    EXPECT_EQ(first.firmware, "2.0.1.7");
    EXPECT_EQ(first.ip, "10.77.0.21");
    EXPECT_EQ(first.mask, "255.255.0.0");
    EXPECT_EQ(first.gateway, "10.77.0.1");
    EXPECT_EQ(first.dns, "");
    EXPECT_EQ(first.mac, (MacAddress{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_EQ(first.httpPort, 8080);
    EXPECT_EQ(first.rtspPort, -1);
    EXPECT_EQ(first.mobilePort, 2147483647);
    EXPECT_EQ(first.channels, 255);
    EXPECT_EQ(first.dhcp, 2);
    EXPECT_EQ(first.type, -2147483647 - 1);
    EXPECT_EQ(first.user, "root");
    EXPECT_EQ(first.password, "p=ss");
    EXPECT_EQ(result.devices[0].clones, 3u);
    EXPECT_EQ(first.replyDelayMs, 50u);
    EXPECT_EQ(first.rawModel, (std::array<std::uint8_t, 10>{'A', 'B', 'C', 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(first.replyCopies, 0u);

    const DeviceSettings& second = result.devices[1].settings;
    EXPECT_EQ(second.ip, "10.77.0.22");
    EXPECT_EQ(second.dhcp, 1);
    EXPECT_EQ(result.devices[1].clones, 0u);
}

TEST(Config, OmittedKeysTakeDefaults)
{
    const ConfigResult result = ParseConfig("[device]\nip = 10.77.0.5\nmac = 02:00:00:00:00:01\n");
    ASSERT_FALSE(result.error);
    const DeviceSettings& device = result.devices.at(0).settings;
    const DeviceSettings defaults;
    EXPECT_EQ(device.model, defaults.model);
    EXPECT_EQ(device.mask, defaults.mask);
    EXPECT_EQ(device.httpPort, defaults.httpPort);
    EXPECT_EQ(device.rtspPort, defaults.rtspPort);
    EXPECT_EQ(device.replyCopies, 1u);
    EXPECT_EQ(device.replyDelayMs, 0u);
    EXPECT_FALSE(device.rawModel);
    EXPECT_EQ(result.devices[0].clones, 0u);
}

TEST(Config, ErrorsNameTheLine)
{
    struct Case {
        const char* text;
        int line;
        const char* message; // a part of it
    };
    const char* head = "[device]\nip = 10.77.0.5\nmac = 02:00:00:00:00:01\n";
    const std::string h = head; // the bad line is line 4 below
    const std::string texts[] = {
        h + "colour = red\n",
        h + "ip = 10.77.0.6\n",
        h + "just words\n",
        h + "channels = 256\n",
        h + "channels = -1\n",
        h + "dhcp = 2\n",
        h + "http_port = 2147483648\n",
        h + "http_port = 80x\n",
        h + "http_port =\n",
        h + "gateway = 10.77.0\n",
        h + "raw_model_hex = 4142434445464748494a4b\n",
        h + "raw_model_hex = 414\n",
        h + "raw_model_hex = zz\n",
        h + "reply_copies = 1001\n",
        h + "[camera]\n",
        h + "http_behaviour = loud\n",
        h + "http_behaviour = status:99\n",
        h + "http_behaviour = status:600\n",
        h + "http_behaviour = status:\n",
        h + "upgrade_ack = yes\n",
        h + "upgrade_final = late\n",
        h + "progress_step = 0\n",
        h + "progress_step = 101\n",
        h + "progress_values = 30,,100\n",
        h + "progress_values = 1e2\n",
        h + "progress_values = 05\n",
        h + "progress_values = 50.\n",
        h + "progress_values =\n",
        h + "reboot_ms = 600001\n",
        h + "http_delay_ms = -1\n",
        h + "library_port = 65536\n",
        h + "library_install_ms = 600001\n",
    };
    const Case cases[] = {
        {texts[0].c_str(), 4, "unknown key colour"},
        {texts[1].c_str(), 4, "given twice"},
        {texts[2].c_str(), 4, "key = value"},
        {texts[3].c_str(), 4, "channels"},
        {texts[4].c_str(), 4, "channels"},
        {texts[5].c_str(), 4, "dhcp"},
        {texts[6].c_str(), 4, "http_port"},
        {texts[7].c_str(), 4, "http_port"},
        {texts[8].c_str(), 4, "http_port"},
        {texts[9].c_str(), 4, "gateway"},
        {texts[10].c_str(), 4, "raw_model_hex"},
        {texts[11].c_str(), 4, "raw_model_hex"},
        {texts[12].c_str(), 4, "raw_model_hex"},
        {texts[13].c_str(), 4, "reply_copies"},
        {texts[14].c_str(), 4, "unknown section"},
        {texts[15].c_str(), 4, "http_behaviour"},
        {texts[16].c_str(), 4, "http_behaviour"},
        {texts[17].c_str(), 4, "http_behaviour"},
        {texts[18].c_str(), 4, "http_behaviour"},
        {texts[19].c_str(), 4, "upgrade_ack"},
        {texts[20].c_str(), 4, "upgrade_final"},
        {texts[21].c_str(), 4, "progress_step"},
        {texts[22].c_str(), 4, "progress_step"},
        {texts[23].c_str(), 4, "progress_values"},
        {texts[24].c_str(), 4, "progress_values"},
        {texts[25].c_str(), 4, "progress_values"},
        {texts[26].c_str(), 4, "progress_values"},
        {texts[27].c_str(), 4, "progress_values"},
        {texts[28].c_str(), 4, "reboot_ms"},
        {texts[29].c_str(), 4, "http_delay_ms"},
        {texts[30].c_str(), 4, "library_port"},
        {texts[31].c_str(), 4, "library_install_ms"},
        {"[device]\nip = 10.77.0.5\nmac = 02:00:00:00:00:01\nprogress_step = 10\n"
         "progress_values = 1,100\n",
         1, "both"},
        {"ip = 10.77.0.5\n", 1, "outside"},
        {"\n[device]\nmac = 02:00:00:00:00:01\n", 2, "without ip"},
        {"[device]\nip = 10.77.0.5\n[device]\nip = 10.77.0.6\n", 1, "without mac"},
        {"[device]\nip = 10.77.0.256\n", 2, "ip"},
        {"[device]\nmac = 02:00:00:00:00\n", 2, "mac"},
        {"[device]\nip = 10.77.0.5\nmac = 02:00:00:00:00:01\ndhcp = 1\ndhcp_byte = 2\n", 1, "both"},
        {"[device]\nip = 255.255.255.250\nmac = 02:00:00:00:00:01\nclones = 6\n", 1, "IP"},
        {"[device]\nip = 10.77.0.5\nmac = FF:FF:FF:FF:FF:FE\nclones = 2\n", 1, "MAC"},
        {"", 0, "no [device]"},
        {"# only a comment\n", 0, "no [device]"},
    };
    for (const Case& c : cases) {
        const ConfigResult result = ParseConfig(c.text);
        ASSERT_TRUE(result.error) << c.text;
        EXPECT_EQ(result.error->line, c.line) << c.text;
        EXPECT_NE(result.error->message.find(c.message), std::string::npos)
            << c.text << " gave: " << result.error->message;
    }
}

TEST(Config, WebUpgradeAndRebootKeys)
{
    const ConfigResult result = ParseConfig("[device]\n"
                                            "ip = 10.77.0.5\n"
                                            "mac = 02:00:00:00:00:01\n"
                                            "http_behaviour = status:503\n"
                                            "http_delay_ms = 1500\n"
                                            "upgrade_result = -7\n"
                                            "upgrade_ack = false\n"
                                            "upgrade_final = garbage\n"
                                            "progress_values = 30, 87.9,0.5,-1,101\n"
                                            "reboot_delay_ms = 0\n"
                                            "reboot_ms = 600000\n"
                                            "[device]\n"
                                            "ip = 10.77.0.6\n"
                                            "mac = 02:00:00:00:00:02\n"
                                            "http_behaviour = silent\n"
                                            "upgrade_ack = 1\n"
                                            "upgrade_final = none\n"
                                            "progress_step = 30\n"
                                            "[device]\n"
                                            "ip = 10.77.0.7\n"
                                            "mac = 02:00:00:00:00:03\n"
                                            "http_behaviour = close\n"
                                            "upgrade_final = half\n"
                                            "upgrade_close_after = 65536\n"
                                            "progress_step = 100\n");
    ASSERT_FALSE(result.error) << result.error->line << ": " << result.error->message;
    ASSERT_EQ(result.devices.size(), 3u);
    using Values = std::vector<std::string>;

    const DeviceSettings& first = result.devices[0].settings;
    EXPECT_EQ(first.httpBehaviour, HttpBehaviour::Status);
    EXPECT_EQ(first.httpStatus, 503);
    EXPECT_EQ(first.httpDelayMs, 1500u);
    EXPECT_EQ(first.upgradeResult, -7);
    EXPECT_FALSE(first.upgradeAck);
    EXPECT_EQ(first.upgradeFinal, UpgradeFinal::Garbage);
    EXPECT_EQ(first.progressValues, (Values{"30", "87.9", "0.5", "-1", "101"}));
    EXPECT_EQ(first.rebootDelayMs, 0u);
    EXPECT_EQ(first.rebootMs, 600000u);

    const DeviceSettings& second = result.devices[1].settings;
    EXPECT_EQ(second.httpBehaviour, HttpBehaviour::Silent);
    EXPECT_TRUE(second.upgradeAck);
    EXPECT_EQ(second.upgradeFinal, UpgradeFinal::None);
    // The step that does not reach 100 exactly still ends there.
    EXPECT_EQ(second.progressValues, (Values{"0", "30", "60", "90", "100"}));

    const DeviceSettings& third = result.devices[2].settings;
    EXPECT_EQ(third.httpBehaviour, HttpBehaviour::Close);
    EXPECT_EQ(third.upgradeFinal, UpgradeFinal::Half);
    EXPECT_EQ(third.upgradeCloseAfter, 65536u);
    EXPECT_EQ(third.progressValues, (Values{"0", "100"}));

    const DeviceSettings defaults;
    EXPECT_EQ(defaults.httpBehaviour, HttpBehaviour::Normal);
    EXPECT_EQ(defaults.httpDelayMs, 0u);
    EXPECT_EQ(defaults.upgradeResult, 0);
    EXPECT_TRUE(defaults.upgradeAck);
    EXPECT_EQ(defaults.upgradeFinal, UpgradeFinal::Normal);
    EXPECT_EQ(defaults.upgradeCloseAfter, 0u);
    EXPECT_EQ(defaults.progressValues, (Values{"0", "25", "50", "75", "100"}));
    EXPECT_EQ(defaults.rebootDelayMs, 2000u);
    EXPECT_EQ(defaults.rebootMs, 5000u);
}

TEST(Config, LibraryKeys)
{
    const ConfigResult result = ParseConfig("[device]\n"
                                            "ip = 10.77.0.5\n"
                                            "mac = 02:00:00:00:00:01\n"
                                            "library_port = 0\n"
                                            "library_install_ms = 600000\n"
                                            "library_result = -2147483648\n");
    ASSERT_FALSE(result.error) << result.error->line << ": " << result.error->message;
    const DeviceSettings& settings = result.devices[0].settings;
    EXPECT_EQ(settings.libraryPort, 0);
    EXPECT_EQ(settings.libraryInstallMs, 600000u);
    EXPECT_EQ(settings.libraryResult, -2147483647 - 1);

    const DeviceSettings defaults;
    EXPECT_EQ(defaults.libraryPort, 4000);
    EXPECT_EQ(defaults.libraryInstallMs, 3000u);
    EXPECT_EQ(defaults.libraryResult, 0);
}

TEST(Config, ClonesCountUpWithCarry)
{
    const ConfigResult result = ParseConfig("[device]\n"
                                            "name = Gate\n"
                                            "ip = 10.77.0.254\n"
                                            "mac = 02:00:00:00:00:FE\n"
                                            "clones = 2\n"
                                            "[device]\n"
                                            "ip = 10.77.5.1\n"
                                            "mac = 02:00:00:00:10:00\n");
    ASSERT_FALSE(result.error) << result.error->message;
    const std::vector<Device> devices = ExpandClones(result.devices);
    ASSERT_EQ(devices.size(), 4u);

    struct Expected {
        const char* name;
        const char* ip;
        MacAddress mac;
        bool isClone;
    };
    const Expected expected[] = {
        {"Gate", "10.77.0.254", {0x02, 0, 0, 0, 0x00, 0xFE}, false},
        {"Gate #1", "10.77.0.255", {0x02, 0, 0, 0, 0x00, 0xFF}, true},
        {"Gate #2", "10.77.1.0", {0x02, 0, 0, 0, 0x01, 0x00}, true},
        {"", "10.77.5.1", {0x02, 0, 0, 0, 0x10, 0x00}, false},
    };
    for (std::size_t i = 0; i < devices.size(); ++i) {
        EXPECT_EQ(devices[i].settings.name, expected[i].name) << i;
        EXPECT_EQ(devices[i].settings.ip, expected[i].ip) << i;
        EXPECT_EQ(devices[i].settings.mac, expected[i].mac) << i;
        EXPECT_EQ(devices[i].isClone, expected[i].isClone) << i;
    }
}

TEST(Config, MissingFileIsAnError)
{
    const ConfigResult result = LoadConfigFile("/nonexistent-devsim-dir/devices.ini");
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->line, 0);
}

} // namespace
} // namespace devsim
