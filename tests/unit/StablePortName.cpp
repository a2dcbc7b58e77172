// The name a board's ledger is filed under: a port with no /dev/serial/by-id link keeps the name
// it was given, so the same name always finds the same ledger.
#include "FlashLedger.h"
#include "PseudoTerminal.h"
#include "ScratchDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

TEST(StablePortName, APortWithoutAByIdLinkKeepsTheNameItWasGiven) {
    TPseudoTerminal line; // a serial port that no USB adapter, and so no by-id link, stands for
    ASSERT_TRUE(line.Open());
    TScratchDir scratch;
    const std::string alias = scratch.Path() + "/ttyBoard"; // a link of the user's own
    ASSERT_EQ(::symlink(line.SlavePath().c_str(), alias.c_str()), 0);
    for (const std::string& device : {line.SlavePath(), alias, scratch.Path() + "/unplugged"})
        EXPECT_EQ(StablePortName(device), device);
}
