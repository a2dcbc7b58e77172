// The name a board's ledger is filed under: a port with no /dev/serial/by-id link is filed under
// the device it leads to, however it was named, and a device that is gone keeps the name given.
#include "FlashLedger.h"
#include "PseudoTerminal.h"
#include "ScratchDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

TEST(StablePortName, APortWithoutAByIdLinkIsFiledUnderItsDevice) {
    TPseudoTerminal line; // a serial port that no USB adapter, and so no by-id link, stands for
    ASSERT_TRUE(line.Open());
    TScratchDir scratch;
    const std::string alias = scratch.Path() + "/ttyBoard"; // a link of the user's own
    ASSERT_EQ(::symlink(line.SlavePath().c_str(), alias.c_str()), 0);
    const std::string unplugged = scratch.Path() + "/unplugged";
    const std::pair<std::string, std::string> cases[] = {
        {line.SlavePath(), line.SlavePath()}, {alias, line.SlavePath()}, {unplugged, unplugged}};
    for (const auto& [device, name] : cases)
        EXPECT_EQ(StablePortName(device), name) << device;
}
