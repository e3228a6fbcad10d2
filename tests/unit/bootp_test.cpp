// The byte operations on a received request: serial number, the two
// bytewise scans, and the reply built in place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/bootp.h"

using namespace tessel;

namespace {

// A plausible request as a server sends it: op 1, Ethernet, a DHCP cookie,
// the given options, then the end option.
BootpMessage Request(std::vector<std::uint8_t> options = {}, std::size_t length = 300)
{
    BootpMessage m;
    auto& b = m.buffer;
    b[0] = 1;
    b[1] = 1;
    b[2] = 6;
    b[3] = 0;
    const std::uint8_t xid[] = {0xDE, 0xAD, 0xBE, 0xEF};
    std::memcpy(&b[4], xid, 4);
    b[8] = 0x00;
    b[9] = 0x07;   // secs
    b[10] = 0x80;  // broadcast flag
    const std::uint8_t ciaddr[] = {10, 1, 2, 3}, giaddr[] = {10, 9, 8, 7};
    std::memcpy(&b[12], ciaddr, 4);
    std::memcpy(&b[24], giaddr, 4);
    const std::uint8_t mac[] = {0x0A, 0x1B, 0x2C, 0x01, 0x02, 0xFE};
    std::memcpy(&b[28], mac, 6);
    for (std::size_t i = 108; i < 236; ++i) b[i] = static_cast<std::uint8_t>(i);  // file field
    const std::uint8_t cookie[] = {99, 130, 83, 99};
    std::memcpy(&b[236], cookie, 4);
    std::copy(options.begin(), options.end(), b.begin() + 240);
    b[240 + options.size()] = 255;
    m.length = length;
    return m;
}

std::vector<std::uint8_t> VendorOption(char a, char b)
{
    // 43, length, 42, five bytes, 'T', one byte, then the class.
    return {43, 12, 42, 1, 2, 3, 4, 5, 'T', 9, static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b), 0, 0};
}

void PutVendorPatternAt(BootpMessage& m, std::size_t p)
{
    m.buffer[p] = 43;
    m.buffer[p + 2] = 42;
    m.buffer[p + 8] = 'T';
    m.buffer[p + 10] = 'P';
    m.buffer[p + 11] = 'S';
}

}  // namespace

TEST(SerialNumber, UpperCaseHexWithLeadingZerosWhateverHlen)
{
    BootpMessage m = Request();
    EXPECT_EQ(FormatSerialNumber(m), "0A-1B-2C-01-02-FE");

    const std::uint8_t mixed[] = {0xAB, 0xCD, 0xEF, 0x9A, 0x0F, 0xF0};
    std::memcpy(&m.buffer[28], mixed, 6);
    for (std::uint8_t hlen : {0, 16}) {
        m.buffer[2] = hlen;
        EXPECT_EQ(FormatSerialNumber(m), "AB-CD-EF-9A-0F-F0");
    }

    std::fill_n(&m.buffer[28], 6, 0);
    EXPECT_EQ(FormatSerialNumber(m), "00-00-00-00-00-00");
}

TEST(VendorClass, PatternAnywhereInTheScanRange)
{
    EXPECT_EQ(FindVendorClass(Request(VendorOption('P', 'S'))), "PS");
    EXPECT_EQ(FindVendorClass(Request(VendorOption('P', 's'))), "Ps");
    EXPECT_EQ(FindVendorClass(Request()), std::nullopt);

    // Inside another option's data the bytewise scan still finds it.
    std::vector<std::uint8_t> wrapped = {12, 16};
    auto vendor = VendorOption('P', 'S');
    wrapped.insert(wrapped.end(), vendor.begin(), vendor.end());
    EXPECT_EQ(FindVendorClass(Request(wrapped)), "PS");
}

TEST(VendorClass, OnlyTheMarkerBytesMatter)
{
    auto option = VendorOption('P', 'S');
    option[8] = 't';  // lower-case tag: no match
    EXPECT_EQ(FindVendorClass(Request(option)), std::nullopt);
    option = VendorOption('P', 'S');
    option[2] = 41;
    EXPECT_EQ(FindVendorClass(Request(option)), std::nullopt);
    option = VendorOption('P', 'S');
    option[1] = 200;   // the length is not examined
    option[9] = 0xFF;  // nor the byte between tag and class... but 255 ends the scan
    EXPECT_EQ(FindVendorClass(Request(option)), "PS") << "255 after the match position must not matter";
}

TEST(VendorClass, PatternAtTheLastPositionReadsUpToOffset502)
{
    BootpMessage m = Request({}, 548);
    std::fill(m.buffer.begin() + 240, m.buffer.begin() + 512, std::uint8_t{0});
    PutVendorPatternAt(m, 491);
    EXPECT_EQ(FindVendorClass(m), "PS");
    // One position further is outside the scan.
    std::fill(m.buffer.begin() + 240, m.buffer.begin() + 512, std::uint8_t{0});
    PutVendorPatternAt(m, 492);
    EXPECT_EQ(FindVendorClass(m), std::nullopt);
}

TEST(RequestedAddress, LengthMustBeFour)
{
    EXPECT_EQ(FindRequestedAddress(Request({50, 4, 0xC0, 0xA8, 0x01, 0x05})), "192.168.1.5");
    // Length 5 does not match, and the scan goes on behind it.
    EXPECT_EQ(FindRequestedAddress(Request({50, 5, 0xC0, 0xA8, 0x01, 0x05, 0x00})), std::nullopt);
    EXPECT_EQ(FindRequestedAddress(Request({50, 5, 1, 2, 3, 4, 5, 50, 4, 10, 0, 0, 7})), "10.0.0.7");
}

TEST(OptionScan, A255InsideAnotherOptionEndsIt)
{
    // Option 61 whose data holds 255: the scan stops there and never sees
    // option 50 behind it.
    EXPECT_EQ(FindRequestedAddress(Request({61, 3, 1, 255, 7, 50, 4, 10, 0, 0, 7})), std::nullopt);
    // But 255 at the first position (236) does not stop it.
    BootpMessage m = Request({50, 4, 10, 0, 0, 7});
    m.buffer[236] = 255;
    EXPECT_EQ(FindRequestedAddress(m), "10.0.0.7");
}

TEST(OptionScan, PatternAtTheCookieIsTested)
{
    BootpMessage m = Request();
    m.buffer[236] = 50;
    m.buffer[237] = 4;
    m.buffer[238] = 1;
    m.buffer[239] = 2;
    m.buffer[240] = 3;
    m.buffer[241] = 4;
    EXPECT_EQ(FindRequestedAddress(m), "1.2.3.4");
}

TEST(OptionScan, WithoutAnEndOptionAllPositionsAreTestedAndNothingFound)
{
    BootpMessage m = Request({}, 548);
    std::fill(m.buffer.begin() + 236, m.buffer.begin() + 548, std::uint8_t{1});
    EXPECT_EQ(FindRequestedAddress(m), std::nullopt);
    EXPECT_EQ(FindVendorClass(m), std::nullopt);
    // A match at 491, the last position, is still found; at 492 it is not.
    m.buffer[491] = 50;
    m.buffer[492] = 4;
    EXPECT_EQ(FindRequestedAddress(m), "1.1.1.1");
    m.buffer[491] = 1;
    m.buffer[492] = 50;
    m.buffer[493] = 4;
    EXPECT_EQ(FindRequestedAddress(m), std::nullopt);
}

TEST(Reply, ShortRequestGivesFullReplyWithUnchangedFieldsEchoed)
{
    BootpMessage m = Request({53, 1, 1, 50, 4, 10, 0, 0, 7, 43, 2, 1, 2}, 300);
    const BootpMessage before = m;

    const auto reply = MakeReply(m, "10.0.0.5", "10.77.0.1", "install-pc");
    ASSERT_EQ(reply.size(), 512u);
    ASSERT_EQ(reply.data(), m.buffer.data()) << "the reply is built in the receive buffer";

    EXPECT_EQ(reply[0], 2);
    // htype, hlen, hops, xid, secs, flags, ciaddr unchanged.
    EXPECT_TRUE(std::equal(reply.begin() + 1, reply.begin() + 16, before.buffer.begin() + 1));
    const std::uint8_t yiaddr[] = {10, 0, 0, 5}, siaddr[] = {10, 77, 0, 1};
    EXPECT_TRUE(std::equal(reply.begin() + 16, reply.begin() + 20, yiaddr));
    EXPECT_TRUE(std::equal(reply.begin() + 20, reply.begin() + 24, siaddr));
    // giaddr and chaddr unchanged.
    EXPECT_TRUE(std::equal(reply.begin() + 24, reply.begin() + 44, before.buffer.begin() + 24));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&reply[44])), "install-pc");
    // file and cookie unchanged.
    EXPECT_TRUE(std::equal(reply.begin() + 108, reply.begin() + 240, before.buffer.begin() + 108));
    // No DHCP options at all: pads, then the end option at 492.
    EXPECT_TRUE(std::all_of(reply.begin() + 240, reply.begin() + 492, [](std::uint8_t x) { return x == 0; }));
    EXPECT_EQ(reply[492], 255);
}

TEST(Reply, HostNameIsCutSoTheNulStaysInSname)
{
    BootpMessage m = Request();
    const BootpMessage before = m;
    const std::string longName(99, 'h');
    MakeReply(m, "10.0.0.5", "10.77.0.1", longName);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&m.buffer[44])), std::string(63, 'h'));
    EXPECT_EQ(m.buffer[44 + 63], 0);
    EXPECT_TRUE(std::equal(m.buffer.begin() + 108, m.buffer.begin() + 236, before.buffer.begin() + 108))
        << "nothing may spill into the file field";
}

TEST(Reply, EmptyOwnAddressGivesZeroSiaddr)
{
    BootpMessage m = Request();
    std::fill_n(&m.buffer[20], 4, 0x55);
    MakeReply(m, "10.0.0.5", "", "pc");
    EXPECT_TRUE(std::all_of(&m.buffer[20], &m.buffer[24], [](std::uint8_t x) { return x == 0; }));
}

TEST(Reply, ClearedBufferLeavesNoEarlierBytesInTheTail)
{
    // A long request followed by a short one: after Clear() the reply's
    // bytes 493..511 and the scans see zeros, not the earlier datagram.
    BootpMessage m = Request({}, 548);
    std::fill(m.buffer.begin() + 493, m.buffer.begin() + 548, std::uint8_t{0xAA});
    PutVendorPatternAt(m, 491);
    m.Clear();
    BootpMessage shorter = Request({}, 300);
    std::copy_n(shorter.buffer.begin(), 300, m.buffer.begin());
    m.length = 300;
    EXPECT_EQ(FindVendorClass(m), std::nullopt);
    const auto reply = MakeReply(m, "10.0.0.5", "10.77.0.1", "pc");
    EXPECT_TRUE(std::all_of(reply.begin() + 493, reply.end(), [](std::uint8_t x) { return x == 0; }));
}
