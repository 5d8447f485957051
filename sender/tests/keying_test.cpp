#include "sender/keying.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "sender/send_controller.h"

namespace sender {
namespace {

// Records what the keying is told. Devices in `present` open; any other fails.
class FakeKeying final : public Keying {
public:
    explicit FakeKeying(std::set<std::string> present) : present_(std::move(present)) {}

    bool open(const std::string& device) override {
        events.push_back("open " + device);
        if (!present_.contains(device)) return false;
        open_ = true;
        ++openCount;
        maxOpenAtOnce = std::max(maxOpenAtOnce, openCount);
        return true;
    }
    void close() override {
        if (!open_) return;
        setLines(kUnkeyedLines);
        events.push_back("close");
        open_ = false;
        --openCount;
    }
    bool isOpen() const override { return open_; }
    bool setLines(KeyLines l) override {
        if (!open_) return false;
        lines.push_back(l);
        return true;
    }

    std::vector<std::string> events;
    std::vector<KeyLines> lines;
    int openCount = 0;
    int maxOpenAtOnce = 0;

private:
    std::set<std::string> present_;
    bool open_ = false;
};

// ---- the port field ----

TEST(KeyingPortField, NumbersNameTheNthPortAndOtherTextIsADevice) {
    EXPECT_EQ(serialDeviceName("1"), "/dev/ttyS0");  // COM1
    EXPECT_EQ(serialDeviceName("3"), "/dev/ttyS2");
    EXPECT_EQ(serialDeviceName("12"), "/dev/ttyS11");
    EXPECT_EQ(serialDeviceName("ttyUSB0"), "ttyUSB0");
    EXPECT_EQ(serialDeviceName("/dev/ttyACM0"), "/dev/ttyACM0");
    EXPECT_EQ(serialDeviceName("3a"), "3a");  // not a number: tried as a name, and fails
    EXPECT_EQ(serialDeviceName("-1"), "-1");
    EXPECT_EQ(serialDeviceName(""), std::nullopt);
    EXPECT_EQ(serialDeviceName("0"), std::nullopt);  // there is no COM0
}

// ---- "Set comport" ----

TEST(KeyingSetComport, OpensTheNamedPortWithBothLinesLow) {
    FakeKeying fake({"/dev/ttyS2"});
    const ComportResult r = setComport(fake, "3");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.device, "/dev/ttyS2");
    EXPECT_TRUE(r.message.empty());
    EXPECT_TRUE(fake.isOpen());
    ASSERT_FALSE(fake.lines.empty());
    EXPECT_EQ(fake.lines.back(), kUnkeyedLines);
}

TEST(KeyingSetComport, MissingDeviceGivesTheMessageAndChangesNothing) {
    FakeKeying fake({});
    const ComportResult r = setComport(fake, "7");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "Comport not yet selected or already open by another application");
    EXPECT_FALSE(fake.isOpen());
    EXPECT_TRUE(fake.lines.empty());
    EXPECT_EQ(fake.events, std::vector<std::string>{"open /dev/ttyS6"});
    // An empty field names no device at all; nothing is tried.
    const ComportResult empty = setComport(fake, "");
    EXPECT_EQ(empty.message, kComportFailureText);
    EXPECT_EQ(fake.events.size(), 1u);
}

TEST(KeyingSetComport, PressingAgainReopensWithoutLeavingTheOldPortOpen) {
    FakeKeying fake({"/dev/ttyS0", "ttyUSB0"});
    ASSERT_TRUE(setComport(fake, "1").ok);
    keyTransmitter(fake, true);
    ASSERT_TRUE(setComport(fake, "ttyUSB0").ok);
    EXPECT_EQ(fake.maxOpenAtOnce, 1);
    // The old port went down unkeyed before it closed.
    const std::vector<std::string> want{"open /dev/ttyS0", "close", "open ttyUSB0"};
    EXPECT_EQ(fake.events, want);
    const std::vector<KeyLines> lines{kUnkeyedLines, kKeyedLines, kUnkeyedLines, kUnkeyedLines};
    EXPECT_EQ(fake.lines, lines);
}

TEST(KeyingSetComport, FailedReopenLeavesThePortClosedAndUnkeyed) {
    FakeKeying fake({"/dev/ttyS0"});
    ASSERT_TRUE(setComport(fake, "1").ok);
    keyTransmitter(fake, true);
    EXPECT_FALSE(setComport(fake, "2").ok);
    EXPECT_FALSE(fake.isOpen());
    EXPECT_EQ(fake.lines.back(), kUnkeyedLines);
}

// ---- "Turn On" and "Turn Off" ----

TEST(KeyingTransmitSwitch, TurnOnAndOffDriveDtrAndRts) {
    FakeKeying fake({"/dev/ttyS0"});
    ASSERT_TRUE(setComport(fake, "1").ok);
    SendController controller;
    keyTransmitter(fake, controller.toggleTransmit().on);
    EXPECT_EQ(fake.lines.back(), (KeyLines{true, true}));
    keyTransmitter(fake, controller.toggleTransmit().on);
    EXPECT_EQ(fake.lines.back(), (KeyLines{false, false}));
}

TEST(KeyingTransmitSwitch, NoPortOpenIsIgnored) {
    FakeKeying fake({});
    keyTransmitter(fake, true);
    EXPECT_TRUE(fake.lines.empty());
}

// ---- a real serial port ----

TEST(SerialKeyingPort, MissingDeviceFailsWithTheSystemsReason) {
    SerialKeying keying;
    const ComportResult r = setComport(keying, "/dev/vistrel-no-such-port");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, kComportFailureText);
    EXPECT_FALSE(keying.isOpen());
    EXPECT_FALSE(keying.lastError().empty());
    EXPECT_FALSE(keying.setLines(kKeyedLines));
}

TEST(SerialKeyingPort, OpenedPortHangsUpOnClose) {
    // A pseudo-terminal stands in for the port: it shares its termios with its master side,
    // where this test can read them. It has no modem lines, so only the flag is checked.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        GTEST_SKIP() << "no pseudo-terminals here";
    }
    const std::string slave = ::ptsname(master);
    termios tio{};
    ASSERT_EQ(::tcgetattr(master, &tio), 0);
    tio.c_cflag &= ~static_cast<tcflag_t>(HUPCL);  // as an earlier program might have left it
    ASSERT_EQ(::tcsetattr(master, TCSANOW, &tio), 0);
    {
        SerialKeying keying;
        ASSERT_TRUE(keying.open(slave)) << keying.lastError();
        ASSERT_EQ(::tcgetattr(master, &tio), 0);
        EXPECT_NE(tio.c_cflag & HUPCL, 0u);
    }
    ::close(master);
}

}  // namespace
}  // namespace sender
