// The port channel's own operations, below the exports.
#include "channel/port_channel.h"
#include "tests/support.h"

using namespace TestSupport;

namespace {

using ChannelInternalTest = LibraryTest;

TEST_F(ChannelInternalTest, OnlyTheLowByteOfAWrittenValueIsSent)
{
    initializeQuietly();
    EXPECT_EQ(PortChannel::writePort(3, 0x1FF), 0);
    EXPECT_EQ(PortChannel::writePort(9, -2), 0);
    EXPECT_EQ(PortChannel::writePort(8, INT_MIN), 0);
    EXPECT_STREQ(Sim::trace(), "w3=FF w9=FE w8=00");
}

TEST_F(ChannelInternalTest, ReadGivesTheByteZeroExtended)
{
    initializeQuietly();
    EXPECT_EQ(PortChannel::writePort(9, 0xC3), 0);
    EXPECT_EQ(PortChannel::readPort(9), 0xC3);
    EXPECT_STREQ(Sim::trace(), "w9=C3 r9");
}

TEST_F(ChannelInternalTest, TheWholeOffsetReachesTheDriver)
{
    initializeQuietly();
    // The driver decodes 16 ports; anything beyond fails there, with the
    // library's usual notice.
    EXPECT_EQ(PortChannel::readPort(0x01000000), 255);
    EXPECT_EQ(PortChannel::writePort(16, 1), 255);
    EXPECT_STREQ(Sim::trace(), "r16777216! w16=01!");
    EXPECT_EQ(notices(), repeated(RequestFailed, 2));
}

} // namespace
