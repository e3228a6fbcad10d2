#include <gtest/gtest.h>

#include "engine/ipaddress.h"
#include "resources/texts.h"

using namespace tessel;

TEST(IpAddress, RoundTripsAndRejectsWhatIsNotDottedDecimal)
{
    EXPECT_EQ(FormatAddress(Ipv4Bytes{192, 168, 100, 200}), "192.168.100.200");
    EXPECT_EQ(FormatAddress(Ipv4Bytes{0, 9, 10, 205}), "0.9.10.205");
    EXPECT_EQ(ParseAddress("10.0.0.7"), (Ipv4Bytes{10, 0, 0, 7}));
    EXPECT_EQ(ParseAddress("255.255.255.255"), (Ipv4Bytes{255, 255, 255, 255}));
    for (const char* bad : {"", "10.0.0", "10.0.0.7.", "10.0.0.256", "10..0.7", "a.b.c.d", " 10.0.0.7", "10.0.0.7 ",
                            "1000.0.0.7", "10.0.0.-5", "10.0.0.0007"})
        EXPECT_EQ(ParseAddress(bad), std::nullopt) << bad;
    EXPECT_EQ(AddressBytesOrZero(""), (Ipv4Bytes{0, 0, 0, 0}));
}

// The one refusal table of both front ends: the window's Set IP and
// tessel-cli's check before listening (--yes confirms an ending).
TEST(IpAddress, RefusedAddresses)
{
    struct Case {
        Ipv4Bytes address;
        bool confirmed;
        int box;
    };
    for (const Case c :
         {Case{{0, 0, 0, 0}, true, IDS_ZERO_ADDRESS}, Case{{255, 255, 255, 255}, true, IDS_BROADCAST_ADDRESS},
          Case{{10, 0, 0, 0}, false, IDS_RESERVED_ENDING}, Case{{10, 0, 0, 1}, false, IDS_RESERVED_ENDING},
          Case{{10, 0, 0, 255}, false, IDS_RESERVED_ENDING}, Case{{10, 0, 0, 255}, true, 0},
          Case{{10, 0, 0, 2}, false, 0}, Case{{10, 0, 0, 10}, false, 0}, Case{{10, 0, 0, 100}, false, 0},
          Case{{10, 0, 1, 254}, false, 0},
          // No server can be reached there; confirming does not help.
          Case{{0, 1, 2, 3}, true, IDS_UNREACHABLE_ADDRESS}, Case{{127, 0, 0, 1}, true, IDS_UNREACHABLE_ADDRESS},
          Case{{127, 255, 1, 2}, false, IDS_UNREACHABLE_ADDRESS}, Case{{224, 0, 0, 251}, true, IDS_UNREACHABLE_ADDRESS},
          Case{{239, 1, 2, 3}, false, IDS_UNREACHABLE_ADDRESS}, Case{{240, 0, 0, 5}, false, IDS_UNREACHABLE_ADDRESS},
          Case{{255, 255, 255, 254}, true, IDS_UNREACHABLE_ADDRESS},
          // Their neighbours stay open.
          Case{{1, 0, 0, 2}, false, 0}, Case{{126, 255, 255, 254}, false, 0}, Case{{128, 0, 0, 2}, false, 0},
          Case{{223, 255, 255, 254}, false, 0}})
        EXPECT_EQ(RefusingBox(c.address, c.confirmed), c.box) << FormatAddress(c.address);
}
