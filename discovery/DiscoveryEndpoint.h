// One UDP socket with the broadcast option, bound to one local IPv4 address and a port the
// system chose. Searches and Modify IP requests go out of every endpoint; replies come back to
// the endpoint that sent the search.
#pragma once

#include "net/Socket.h"

#include <cstdint>

struct DiscoveryEndpoint {
    // Empty once the endpoint is dead: a receive failed, so it is no longer read or written.
    net::UniqueSocket socket;
    // Host byte order.
    std::uint32_t localAddress = 0;
};
