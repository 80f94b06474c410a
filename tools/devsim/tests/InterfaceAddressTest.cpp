#include "InterfaceAddress.h"

#include <gtest/gtest.h>

namespace devsim {
namespace {

using Commands = std::vector<std::vector<std::string>>;

TEST(InterfaceAddress, OldAddressGoesBeforeTheNewOneIsAdded)
{
    struct Case {
        AddressChange change;
        Commands expected;
    };
    const Case cases[] = {
        // Same subnet: the order matters (see the header).
        {{"10.77.0.5", "255.255.0.0", "10.77.0.9", "255.255.0.0"},
         {{"addr", "del", "10.77.0.5/16", "dev", "veth-d1"},
          {"addr", "replace", "10.77.0.9/16", "dev", "veth-d1"}}},
        // Only the mask changes: the address with the old prefix is another entry.
        {{"10.77.0.5", "255.255.0.0", "10.77.0.5", "255.255.255.0"},
         {{"addr", "del", "10.77.0.5/16", "dev", "veth-d1"},
          {"addr", "replace", "10.77.0.5/24", "dev", "veth-d1"}}},
        // An old address that never fitted an interface is not deleted.
        {{"10.77.0.5", "255.0.255.0", "10.77.0.6", "255.255.255.0"},
         {{"addr", "replace", "10.77.0.6/24", "dev", "veth-d1"}}},
        {{"10.77.0.5", "255.255.0.0", "10.77.0.5", "255.255.0.0"}, {}},
    };
    for (const Case& c : cases) {
        const AddressMovePlan plan = PlanAddressMove("veth-d1", c.change);
        EXPECT_EQ(plan.error, "") << c.change.newIp;
        EXPECT_EQ(plan.commands, c.expected) << c.change.newIp << " " << c.change.newMask;
    }
}

TEST(InterfaceAddress, UnusableNewAddressRunsNothing)
{
    const AddressChange changes[] = {
        {"10.77.0.5", "255.255.0.0", "10.77.0.x", "255.255.0.0"},
        {"10.77.0.5", "255.255.0.0", "10.77.0.9", "255.0.255.0"},
        {"10.77.0.5", "255.255.0.0", "10.77.0.9", ""},
    };
    for (const AddressChange& change : changes) {
        const AddressMovePlan plan = PlanAddressMove("veth-d1", change);
        EXPECT_TRUE(plan.commands.empty()) << change.newIp << " " << change.newMask;
        EXPECT_NE(plan.error, "");
    }
}

} // namespace
} // namespace devsim
