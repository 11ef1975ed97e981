// The USB/IP camera's bulk-only transport and SCSI plumbing, without a kernel: the host's and the
// device's expectations in each combination that matters, sense data kept for REQUEST SENSE, the
// medium, and what a wrong wrapper gets.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "guest/mass_storage.h"
#include "tests/support/wire.h"

namespace {

using usbcam::BulkOnlyTransport;
using usbcam::ScsiPlumbing;
using usbcam::ScsiResult;
using zqtest::Hex;

std::vector<std::uint8_t> Cbw(std::uint32_t tag, std::uint32_t length, bool in,
                              std::vector<std::uint8_t> cdb) {
    std::vector<std::uint8_t> cbw(31, 0);
    const std::uint32_t fields[] = {0x43425355u, tag, length};
    for (std::size_t f = 0; f < 3; ++f) {
        for (std::size_t i = 0; i < 4; ++i) {
            cbw[4 * f + i] = static_cast<std::uint8_t>(fields[f] >> (8 * i));
        }
    }
    cbw[12] = in ? 0x80 : 0x00;
    cbw[14] = static_cast<std::uint8_t>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), cbw.begin() + 15);
    return cbw;
}

struct Csw {
    std::uint32_t tag = 0;
    std::uint32_t residue = 0;
    int status = -1;
};

Csw ReadCsw(const std::vector<std::uint8_t>& bytes) {
    Csw csw;
    if (bytes.size() != 13 || bytes[0] != 'U' || bytes[1] != 'S' || bytes[2] != 'B' ||
        bytes[3] != 'S') {
        return csw;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        csw.tag |= static_cast<std::uint32_t>(bytes[4 + i]) << (8 * i);
        csw.residue |= static_cast<std::uint32_t>(bytes[8 + i]) << (8 * i);
    }
    csw.status = bytes[12];
    return csw;
}

const std::vector<std::uint8_t> kVendor = {0xFA, 0x55, 0x66, 0xFE, 0x60, 0, 0, 14,
                                           0,    0,    0,    0,    0,    0, 0, 0};

// A camera model: the vendor command answers 8 bytes, opcode 0xC1 is refused, 0xC2 cannot be
// carried out at all; INQUIRY answers 36 bytes.
ScsiResult Model(const std::uint8_t* cdb, std::uint8_t) {
    ScsiResult result;
    if (cdb[0] == 0xFA) {
        result.data = {2, 0, 0, 0, 0, 0, 0, 7};
    } else if (cdb[0] == 0x12) {
        result.data.assign(36, 0x20);
    } else if (cdb[0] == 0xC2) {
        result.phaseError = true;
    } else {
        result.status = 2;
        result.sense = usbcam::FixedSense(0x05, 0x20);
    }
    return result;
}

class BulkOnly : public ::testing::Test {
  protected:
    BulkOnly()
        : plumbing(Model, [this] { return medium; }),
          transport([this](const std::uint8_t* cdb, std::uint8_t length) {
              return plumbing.Execute(cdb, length);
          }) {}

    // One command: the CBW, `outBytes` of data-out if any, then bulk-in URBs of `inUrbs` sizes
    // for the data phase (when the host expects data in), then the CSW.
    struct Exchange {
        std::int32_t cbwStatus = 0;
        std::vector<std::uint8_t> data;
        std::int32_t lastDataStatus = 0;
        Csw csw;
    };
    Exchange Run(std::uint32_t hostLength, bool in, const std::vector<std::uint8_t>& cdb,
                 std::vector<std::size_t> inUrbs = {}) {
        Exchange exchange;
        const std::vector<std::uint8_t> cbw = Cbw(++tag, hostLength, in, cdb);
        exchange.cbwStatus = transport.BulkOut(cbw.data(), cbw.size()).status;
        if (hostLength > 0 && !in) {
            const std::vector<std::uint8_t> out(hostLength, 0xAB);
            transport.BulkOut(out.data(), out.size());
        }
        if (hostLength > 0 && in) {
            if (inUrbs.empty()) {
                inUrbs = {hostLength};
            }
            for (const std::size_t urb : inUrbs) {
                const usbcam::UrbAnswer answer = transport.BulkIn(urb, true);
                exchange.data.insert(exchange.data.end(), answer.data.begin(), answer.data.end());
                exchange.lastDataStatus = answer.status;
            }
        }
        exchange.csw = ReadCsw(transport.BulkIn(13, false).data);
        EXPECT_EQ(exchange.csw.tag, tag);
        EXPECT_TRUE(transport.Idle());
        return exchange;
    }

    bool medium = false;
    ScsiPlumbing plumbing;
    BulkOnlyTransport transport;
    std::uint32_t tag = 0x100;
};

TEST_F(BulkOnly, HostAndDeviceExpectationsDecideTheStatus) {
    struct Case {
        const char* name;
        std::uint32_t hostLength;
        bool in;
        std::vector<std::uint8_t> cdb;
        std::string data;  // hex of the data phase
        std::int32_t lastDataStatus;
        int cswStatus;
        std::uint32_t residue;
    };
    const std::vector<Case> cases = {
        {"8 bytes asked, 8 sent", 8, true, kVendor, "02 00 00 00 00 00 00 07", 0, 0, 0},
        {"16 asked, 8 sent: short, residue 8", 16, true, kVendor, "02 00 00 00 00 00 00 07",
         -EREMOTEIO, 0, 8},
        {"4 asked, 8 to send: phase error, nothing sent", 4, true, kVendor, "", -EREMOTEIO, 2, 4},
        {"no data asked, 8 to send: phase error", 0, true, kVendor, "", 0, 2, 0},
        {"8 sent by the host to a data-in command: phase error", 8, false, kVendor, "", 0, 2, 8},
        {"refused command: failed", 8, true, {0xC1, 0, 0, 0, 0, 0}, "", -EREMOTEIO, 1, 8},
        {"command the device cannot carry out: phase error",
         8,
         true,
         {0xC2, 0, 0, 0, 0, 0},
         "",
         -EREMOTEIO,
         2,
         8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Exchange exchange = Run(c.hostLength, c.in, c.cdb);
        EXPECT_EQ(exchange.cbwStatus, 0);
        EXPECT_EQ(Hex(exchange.data), c.data);
        EXPECT_EQ(exchange.lastDataStatus, c.lastDataStatus);
        EXPECT_EQ(exchange.csw.status, c.cswStatus);
        EXPECT_EQ(exchange.csw.residue, c.residue);
    }
}

TEST_F(BulkOnly, RequestSenseReturnsTheLastRefusalOnce) {
    EXPECT_EQ(Run(8, true, {0xC1, 0, 0, 0, 0, 0}).csw.status, 1);
    const Exchange first = Run(18, true, {0x03, 0, 0, 0, 18, 0});
    ASSERT_EQ(first.data.size(), 18u);
    EXPECT_EQ(first.data[2], 0x05);
    EXPECT_EQ(first.data[12], 0x20);
    const Exchange second = Run(18, true, {0x03, 0, 0, 0, 18, 0});
    ASSERT_EQ(second.data.size(), 18u);
    EXPECT_EQ(second.data[2], 0x00);
}

TEST_F(BulkOnly, MediumDecidesTheStorageCommands) {
    const std::vector<std::uint8_t> testUnitReady = {0, 0, 0, 0, 0, 0};
    const std::vector<std::uint8_t> readCapacity = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    medium = false;
    EXPECT_EQ(Run(0, true, testUnitReady).csw.status, 1);
    EXPECT_EQ(Hex(Run(18, true, {0x03, 0, 0, 0, 18, 0}).data).substr(0, 8), "70 00 02");
    EXPECT_EQ(Run(8, true, readCapacity).csw.status, 1);

    medium = true;
    EXPECT_EQ(Run(0, true, testUnitReady).csw.status, 0);
    const Exchange capacity = Run(8, true, readCapacity);
    EXPECT_EQ(capacity.csw.status, 0);
    EXPECT_EQ(Hex(capacity.data), "00 00 07 FF 00 00 02 00");  // last block 2047, 512 bytes
    // Eight blocks read in two URBs of 2048 bytes: all of it arrives.
    const Exchange read = Run(4096, true, {0x28, 0, 0, 0, 0, 8, 0, 0, 8, 0}, {2048, 2048});
    EXPECT_EQ(read.data.size(), 4096u);
    EXPECT_EQ(read.lastDataStatus, 0);
    EXPECT_EQ(read.csw.status, 0);
    EXPECT_EQ(read.csw.residue, 0u);
    // Past the end of the medium.
    EXPECT_EQ(Run(512, true, {0x28, 0, 0, 0, 0x07, 0xFF, 0, 0, 2, 0}).csw.status, 1);
    // Writes are refused as write-protected, after the data has been taken.
    EXPECT_EQ(Run(512, false, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}).csw.status, 1);
    const Exchange sense = Run(18, true, {0x03, 0, 0, 0, 18, 0});
    EXPECT_EQ(sense.data[2], 0x07);
    EXPECT_EQ(sense.data[12], 0x27);
}

TEST_F(BulkOnly, ABadWrapperStallsUntilTheHostResets) {
    std::vector<std::uint8_t> wrong = Cbw(1, 8, true, kVendor);
    wrong[0] = 'X';
    EXPECT_EQ(transport.BulkOut(wrong.data(), wrong.size()).status, -EPIPE);
    const std::vector<std::uint8_t> shortCbw(30, 0);
    EXPECT_EQ(transport.BulkOut(shortCbw.data(), shortCbw.size()).status, -EPIPE);
    EXPECT_EQ(transport.BulkIn(13, false).status, -EPIPE);  // nothing to send

    // Half-way through a command, the host resets: the next CBW is taken afresh.
    const std::vector<std::uint8_t> cbw = Cbw(2, 8, true, kVendor);
    ASSERT_EQ(transport.BulkOut(cbw.data(), cbw.size()).status, 0);
    EXPECT_FALSE(transport.Idle());
    transport.Reset();
    EXPECT_TRUE(transport.Idle());
    EXPECT_EQ(Run(8, true, kVendor).csw.status, 0);
}

}  // namespace
