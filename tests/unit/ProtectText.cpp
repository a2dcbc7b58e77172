// What the preferences show beside the Protect field.
#include "ProtectText.h"
#include "TString.h"

#include <gtest/gtest.h>

TEST(ProtectedRangesText, NamesTheSectorsAndAddressesAProtectTextCoversExactly) {
    // sectors, protect text, flash start, what is shown
    const char* const cases[][4] = {
        // the upper number of a range is the first sector left unprotected
        {"8x32K,2x32K,30x64K", "0-8", "0100 0000", "sectors 0 to 7: 0x01000000 to 0x0103FFFF"},
        {"8x32K,2x32K,30x64K", "9", "0100 0000", "sector 9: 0x01048000 to 0x0104FFFF"},
        {"8x32K,2x32K,30x64K", "0,2-4,10", "01000000",
         "sector 0: 0x01000000 to 0x01007FFF; sectors 2 to 3: 0x01010000 to 0x0101FFFF; "
         "sector 10: 0x01050000 to 0x0105FFFF"},
        // ranges that touch read as one run
        {"4x64K", "0-2,2", "0", "sectors 0 to 2: 0x00000000 to 0x0002FFFF"},
        {"4x64K", "", "0", "no sector protected"},
        {"4x64K", "0-0", "0", "no sector protected"},
        // nothing to show for a text the dialog would refuse
        {"4x64K", "0-9", "0", ""},
        {"4x64K", "x", "0", ""},
        {"", "0", "0", ""},
        {"4x64K", "0", "G", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProtectedRangesText(c[0], c[1], c[2]), c[3])
            << c[0] << " / " << c[1] << " / " << c[2];
}

TEST(ProtectedSectorsText, ShowsTheStoredTextBesideTheSectorsItProtects) {
    // sectors, protect text, what the board type lists show
    const char* const cases[][3] = {
        {"8x32K,2x32K,30x64K", "0-8", "0-8 (sectors 0 to 7)"},
        {"8x32K,2x32K,30x64K", "9", "9 (sector 9)"},
        {"8x32K,2x32K,30x64K", "0,2-4,10", "0,2-4,10 (sectors 0, 2, 3 and 10)"},
        {"4x64K", "0-0", "0-0 (none)"},
        {"4x64K", "", ""},
        {"4x64K", "0-9", "0-9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProtectedSectorsText(c[0], c[1]), c[2]) << c[0] << " / " << c[1];
}
