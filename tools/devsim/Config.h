// The device list file: one or more [device] sections of "key = value" lines. Full-line
// comments start with '#' or ';'; there are no trailing comments, so names may hold both.
#pragma once

#include "Device.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devsim {

struct DeviceConfig {
    DeviceSettings settings;
    // Extra devices answering beside this one, for scale tests.
    unsigned clones = 0;
};

struct ConfigError {
    int line = 0; // 1-based; 0 when the error is about the file as a whole
    std::string message;
};

struct ConfigResult {
    std::vector<DeviceConfig> devices;
    std::optional<ConfigError> error;
};

ConfigResult ParseConfig(std::string_view text);
ConfigResult LoadConfigFile(const std::string& path);

// The devices in answer order: each configured device followed by its clones. Clone k (1-based)
// has the original's MAC plus k and IP address plus k, both counted as one number, so the last
// byte counts up and carries into the ones before it; its name gets " #k".
std::vector<Device> ExpandClones(const std::vector<DeviceConfig>& configs);

} // namespace devsim
