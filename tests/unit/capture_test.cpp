// SPDX-License-Identifier: MIT
// The line's capture file: its bytes against the pcapng format's layout,
// written out by hand, and what the reader refuses.
#include <gtest/gtest.h>

#include "protocol/capture.h"
#include "support/hex.h"

using namespace vorla;
using namespace vorla::capture;
using namespace vorla::test;

namespace {
Capture Sample() {
    Capture c;
    c.application = QStringLiteral("t");
    c.interfaces = {Interface{QStringLiteral("COM1"), QStringLiteral("/dev/x")}};
    c.packets = {Packet{0x100000002, 0, Direction::Out, Hex("01 C0"), {}},
                 Packet{3, 0, Direction::None, {}, QStringLiteral("closed")}};
    return c;
}
}  // namespace

TEST(Capture, WritesThePcapngLayout) {
    const std::string expected =
        // section header: type, length 40, byte-order magic, version 1.0, section length unknown,
        // shb_userappl "t", end of options, length
        "0A 0D 0D 0A 28 00 00 00 4D 3C 2B 1A 01 00 00 00 FF FF FF FF FF FF FF FF "
        "04 00 01 00 74 00 00 00 00 00 00 00 28 00 00 00 "
        // interface: type 1, length 52, link type 147, reserved, snap length 0,
        // if_name "COM1", if_description "/dev/x", if_tsresol 6 (microseconds), end, length
        "01 00 00 00 34 00 00 00 93 00 00 00 00 00 00 00 02 00 04 00 43 4F 4D 31 "
        "03 00 06 00 2F 64 65 76 2F 78 00 00 09 00 01 00 06 00 00 00 00 00 00 00 34 00 00 00 "
        // enhanced packet: type 6, length 48, interface 0, time high and low, captured and
        // original length 2, data padded, epb_flags outbound, end, length
        "06 00 00 00 30 00 00 00 00 00 00 00 01 00 00 00 02 00 00 00 02 00 00 00 02 00 00 00 "
        "01 C0 00 00 02 00 04 00 02 00 00 00 00 00 00 00 30 00 00 00 "
        // an event: no data, no direction, opt_comment "closed"
        "06 00 00 00 30 00 00 00 00 00 00 00 00 00 00 00 03 00 00 00 00 00 00 00 00 00 00 00 "
        "01 00 06 00 63 6C 6F 73 65 64 00 00 00 00 00 00 30 00 00 00";
    const QByteArray written = Write(Sample());
    EXPECT_EQ(ToHex(written), expected);
    EXPECT_EQ(Read(written), Sample());
}

TEST(Capture, ReadRefusesWhatIsNotOurs) {
    const QByteArray good = Write(Sample());
    QByteArray otherLink = good;
    otherLink[40 + 8] = char(1);  // Ethernet
    const std::pair<QByteArray, const char*> table[] = {
        {QByteArray("hello, world"), "not a pcapng capture"},
        {good.left(good.size() - 4), "a block's length is wrong"},
        {otherLink, "link type 1"},
        {good.left(40) + good.mid(92), "interface never described"},
    };
    for (const auto& [data, why] : table) {
        QString error;
        EXPECT_FALSE(Read(data, &error).has_value()) << why;
        EXPECT_TRUE(error.contains(QString::fromLatin1(why))) << error.toStdString();
    }
    EXPECT_EQ(EventBaud(SettingsEvent(QStringLiteral("9600,N,8,1"))), 9600);
    EXPECT_EQ(EventBaud(OpenedEvent(QStringLiteral("1200,N,8,1")) + QStringLiteral(" (COM1)")), 1200);
    EXPECT_EQ(EventBaud(QStringLiteral("closed")), 0);
}
