// Moving the simulated device's namespace address when a Modify IP request changes it, so the
// device is reachable at its new address afterwards (its web page, its upgrade port).
#pragma once

#include "JsonLog.h"

#include <string>
#include <vector>

namespace devsim {

struct AddressChange {
    std::string oldIp;
    std::string oldMask;
    std::string newIp;
    std::string newMask;
};

struct AddressMovePlan {
    // ip(8) arguments, without the program name, in the order to run.
    std::vector<std::vector<std::string>> commands;
    // Why nothing can be done (the new address or mask is no usable address); empty otherwise.
    std::string error;
};

// The old address is deleted before the new one is added. The other order loses the new address
// when both are in one subnet: it joins as a secondary of the old one, and deleting a primary
// deletes its secondaries, since a fresh namespace has promote_secondaries off.
AddressMovePlan PlanAddressMove(const std::string& interfaceName, const AddressChange& change);

// Runs /sbin/ip (or ip from PATH) with the arguments, no shell; its output goes to stderr.
// Returns its exit status, or -1 when it could not be started or did not exit normally.
int RunIp(const std::vector<std::string>& arguments);

// Plans, runs and logs the move: {"event":"interface","command":"ip ...","status":N} for each
// command, {"event":"interface_error",...} when there is nothing it could run.
void MoveInterfaceAddress(const std::string& interfaceName, const AddressChange& change,
                          JsonLog& log);

} // namespace devsim
