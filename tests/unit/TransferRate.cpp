// The throughput and time-left text of a running transfer.
#include "TransferRate.h"

#include <gtest/gtest.h>

TEST(TransferRate, GivesThroughputAndTimeLeft) {
    struct TCase {
        int64_t Done, Total;
        double Elapsed;
        const char* Text;
    } cases[] = {
        {0, 1000, 500, ""},
        {100, 1000, 0, ""},
        {8192, 16384, 1000, "8.0 KB/s, 0:01 left"},
        {1024, 1024, 100, "10.0 KB/s, 0:00 left"},
        {1024, 10 * 1024 * 1024, 1000, "1.0 KB/s, 2:50:39 left"},
        {11264, 2 * 1024 * 1024, 1000, "11.0 KB/s, 3:06 left"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(TransferRateText(c.Done, c.Total, c.Elapsed), c.Text) << c.Done << " " << c.Total;
}
