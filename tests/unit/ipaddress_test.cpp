#include <gtest/gtest.h>

#include "engine/ipaddress.h"

using namespace tessel;

TEST(IpAddress, RoundTripsAndRejectsWhatIsNotDottedDecimal)
{
    EXPECT_EQ(FormatAddress(Ipv4Bytes{192, 168, 100, 200}), "192.168.100.200");
    EXPECT_EQ(ParseAddress("10.0.0.7"), (Ipv4Bytes{10, 0, 0, 7}));
    EXPECT_EQ(ParseAddress("255.255.255.255"), (Ipv4Bytes{255, 255, 255, 255}));
    for (const char* bad : {"", "10.0.0", "10.0.0.7.", "10.0.0.256", "10..0.7", "a.b.c.d", " 10.0.0.7",
                            "10.0.0.7 ", "1000.0.0.7", "10.0.0.-5", "10.0.0.0007"})
        EXPECT_EQ(ParseAddress(bad), std::nullopt) << bad;
    EXPECT_EQ(AddressBytesOrZero(""), (Ipv4Bytes{0, 0, 0, 0}));
}
