// The hostile camera: the generator is the published splitmix64 and replays from its seed; every
// kind of misbehaviour can be drawn; the bytes each kind puts on the pass-through are what its
// name says; the world file's hostile line; and a world without it answers as before.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "sim/hostile.h"
#include "sim/little_endian.h"
#include "sim/trace_writer.h"
#include "sim/world_file_apply.h"
#include "sim/world_file_parse.h"
#include "tests/sim/temp_folder.h"
#include "tests/support/sim_test.h"

namespace {

using sim::HostileKind;

constexpr std::uint32_t kReadWrite = 0xC0000000u;
constexpr std::uint32_t kShareBoth = 0x3u;

// Vendor blocks: get the resolution (answers 8 bytes), set the resolution to 1.
constexpr std::array<std::uint8_t, 16> kGetResolution = {0xFA, 0x55, 0x66, 0xFE, 0x60, 0, 0, 1};
constexpr std::array<std::uint8_t, 16> kSetResolution = {0xFA, 0x55, 0x66, 0xFE, 0x06, 0, 0, 1, 1};

// Only `kind` is ever drawn.
sim::HostileSettings Only(HostileKind kind, std::uint64_t seed = 1) {
    sim::HostileSettings settings;
    settings.seed = seed;
    settings.weights.fill(0);
    settings.weight(kind) = 1;
    return settings;
}

std::vector<sim::HostileAction> Draw(const sim::HostileSettings& settings, int count) {
    sim::HostileCamera camera(settings);
    std::vector<sim::HostileAction> actions;
    for (int i = 0; i < count; ++i) {
        actions.push_back(camera.Decide('E', kGetResolution.data(), 16));
    }
    return actions;
}

// The kind, the drawn numbers: what a replay must give again.
std::string Replay(const std::vector<sim::HostileAction>& actions) {
    std::string text;
    for (const sim::HostileAction& action : actions) {
        text += std::string(sim::HostileKindName(action.kind)) + "/" +
                std::to_string(action.amount) + "/" + std::to_string(action.status) + "/" +
                std::to_string(action.noise) + " ";
    }
    return text;
}

TEST(SplitMix64, GivesThePublishedSequence) {
    // The reference outputs of splitmix64 from seed 0 and seed 1234567.
    sim::SplitMix64 zero(0);
    EXPECT_EQ(zero.Next(), 0xE220A8397B1DCDAFULL);
    EXPECT_EQ(zero.Next(), 0x6E789E6AA1B965F4ULL);
    sim::SplitMix64 other(1234567);
    EXPECT_EQ(other.Next(), 6457827717110365317ULL);
    EXPECT_EQ(other.Next(), 3203168211198807973ULL);
}

TEST(SplitMix64, BelowStaysInRangeAndReachesEveryValue) {
    sim::SplitMix64 random(99);
    for (const std::uint32_t bound : {1u, 2u, 3u, 7u, 100u}) {
        std::set<std::uint32_t> seen;
        for (int i = 0; i < 2000; ++i) {
            const std::uint32_t value = random.Below(bound);
            ASSERT_LT(value, bound);
            seen.insert(value);
        }
        EXPECT_EQ(seen.size(), bound) << "bound " << bound;
    }
    EXPECT_EQ(random.Below(0), 0u);
}

TEST(HostileCamera, TheSameSeedGivesTheSameActions) {
    sim::HostileSettings settings;
    settings.seed = 42;
    EXPECT_EQ(Replay(Draw(settings, 300)), Replay(Draw(settings, 300)));
    sim::HostileSettings other = settings;
    other.seed = 43;
    EXPECT_NE(Replay(Draw(settings, 300)), Replay(Draw(other, 300)));
    // The weights choose the kind only: the drawn numbers follow the seed whatever the weights.
    const std::vector<sim::HostileAction> hangs = Draw(Only(HostileKind::kHang, 42), 50);
    const std::vector<sim::HostileAction> mixed = Draw(settings, 50);
    for (std::size_t i = 0; i < hangs.size(); ++i) {
        EXPECT_EQ(hangs[i].noise, mixed[i].noise) << "request " << i + 1;
        EXPECT_EQ(hangs[i].request, i + 1);
    }
}

TEST(HostileCamera, EveryKindIsDrawnWithTheDefaultWeights) {
    sim::HostileSettings settings;
    settings.seed = 7;
    std::set<HostileKind> seen;
    for (const sim::HostileAction& action : Draw(settings, 5000)) {
        seen.insert(action.kind);
    }
    for (std::size_t i = 0; i < sim::kHostileKindCount; ++i) {
        const auto kind = static_cast<HostileKind>(i);
        EXPECT_TRUE(seen.count(kind) != 0) << sim::HostileKindName(kind);
    }
}

TEST(HostileCamera, AKindOfWeightZeroIsNeverDrawn) {
    sim::HostileSettings settings;
    settings.seed = 3;
    settings.weight(HostileKind::kNormal) = 0;
    settings.weight(HostileKind::kStorm) = 0;
    for (const sim::HostileAction& action : Draw(settings, 3000)) {
        ASSERT_NE(action.kind, HostileKind::kNormal);
        ASSERT_NE(action.kind, HostileKind::kStorm);
    }
}

TEST(HostileCamera, VendorOnlyLeavesOtherCommandsAlone) {
    sim::HostileSettings settings = Only(HostileKind::kStatus);
    settings.vendorOnly = true;
    const sim::HostileCamera camera(settings);
    const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    EXPECT_FALSE(camera.Draws(inquiry));
    EXPECT_TRUE(camera.Draws(kGetResolution.data()));
    settings.vendorOnly = false;
    EXPECT_TRUE(sim::HostileCamera(settings).Draws(inquiry));
}

TEST(HostileKind, NamesGoBothWays) {
    for (std::size_t i = 0; i < sim::kHostileKindCount; ++i) {
        const auto kind = static_cast<HostileKind>(i);
        EXPECT_EQ(sim::HostileKindNamed(sim::HostileKindName(kind)), kind);
    }
    EXPECT_EQ(sim::HostileKindNamed("loud"), std::nullopt);
}

// ---- on the pass-through ----

// A 32-bit SCSI_PASS_THROUGH head built here byte by byte (44 bytes, sense 32 bytes at 48, data
// at 80) for a 16-byte CDB reading `transfer` bytes.
std::vector<std::uint8_t> PassThroughRequest(const std::array<std::uint8_t, 16>& cdb,
                                             std::uint32_t transfer) {
    std::vector<std::uint8_t> bytes(80 + transfer, 0);
    bytes[0] = 44;
    bytes[4] = 1;
    bytes[6] = 16;
    bytes[7] = 32;
    bytes[8] = 1;
    sim::PutLe32(bytes.data(), 12, transfer);
    sim::PutLe32(bytes.data(), 16, 2);
    sim::PutLe32(bytes.data(), 20, 80);
    sim::PutLe32(bytes.data(), 24, 48);
    std::copy(cdb.begin(), cdb.end(), bytes.begin() + 28);
    return bytes;
}

// What the pass-through delivered: status, data bytes, sense bytes.
struct Delivered {
    bool ok = false;
    std::uint8_t status = 0;
    std::uint32_t data = 0;
    std::vector<std::uint8_t> sense;
};

Delivered SendThroughPassThrough(sim::World& world, const std::array<std::uint8_t, 16>& cdb,
                                 std::uint32_t transfer) {
    const os::Handle handle =
        world.CreateFileW(L"\\\\.\\E:", kReadWrite, kShareBoth, os::kOpenExisting, 0);
    std::vector<std::uint8_t> request = PassThroughRequest(cdb, transfer);
    std::uint32_t returned = 0;
    Delivered delivered;
    delivered.ok =
        world.DeviceIoControl(handle, os::kIoctlScsiPassThrough, request.data(), 44, request.data(),
                              static_cast<std::uint32_t>(request.size()), &returned);
    world.CloseHandle(handle);
    delivered.status = request[2];
    delivered.data = sim::Le32(request.data(), 12);
    delivered.sense.assign(request.begin() + 48, request.begin() + 48 + request[7]);
    return delivered;
}

struct KindCase {
    const char* name;
    HostileKind kind;
};

class HostileOnThePassThrough : public zqtest::SimTest,
                                public ::testing::WithParamInterface<KindCase> {};

// For every kind, over many seeds: what the pass-through delivers is what the kind says, the
// action records exactly that, and a set command takes effect exactly when the kind says so.
TEST_P(HostileOnThePassThrough, DeliversWhatTheKindSays) {
    const HostileKind kind = GetParam().kind;
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        world.Reset();
        world.PlugCamera('E').resolution = 0;
        world.SetHostile(Only(kind, seed));

        // The get form, with room for 16 bytes where the camera answers 8.
        const Delivered got = SendThroughPassThrough(world, kGetResolution, 16);
        ASSERT_TRUE(got.ok);
        const std::vector<sim::Event> calls = world.PassThroughRequests();
        ASSERT_EQ(calls.size(), 1u);
        ASSERT_TRUE(calls[0].hostile.has_value());
        const sim::HostileAction& action = *calls[0].hostile;
        EXPECT_EQ(action.kind, kind);
        EXPECT_EQ(action.request, 1u);
        EXPECT_EQ(action.letter, 'E');
        if (!action.ForServer()) {
            EXPECT_EQ(action.status, got.status);
            EXPECT_EQ(std::min<std::uint32_t>(action.dataBytes, 16), got.data);
            EXPECT_EQ(action.sense, got.sense);
        }
        const std::vector<std::uint8_t>& sense = got.sense;
        switch (kind) {
            case HostileKind::kNormal:
            case HostileKind::kHang:
            case HostileKind::kUnplug:
            case HostileKind::kStorm:
            case HostileKind::kDataExact:
                EXPECT_EQ(got.status, 0);
                EXPECT_EQ(got.data, 8u);
                EXPECT_TRUE(sense.empty());
                break;
            case HostileKind::kDataNone:
                EXPECT_EQ(got.status, 0);
                EXPECT_EQ(got.data, 0u);
                break;
            case HostileKind::kDataShort:
                EXPECT_EQ(got.status, 0);
                EXPECT_LT(got.data, 8u);
                break;
            case HostileKind::kDataLong:
                EXPECT_EQ(got.status, 0);
                EXPECT_GT(action.dataBytes, 8u);
                EXPECT_EQ(got.data, std::min<std::uint32_t>(action.dataBytes, 16));
                break;
            case HostileKind::kStatus:
                EXPECT_NE(got.status, 0);
                EXPECT_TRUE(sense.empty());
                EXPECT_TRUE(got.data == 0 || got.data == 8) << got.data;
                break;
            case HostileKind::kSenseFixed:
                EXPECT_EQ(got.status, 2);
                ASSERT_EQ(sense.size(), 18u);
                EXPECT_TRUE(sense[0] == 0x70 || sense[0] == 0x71) << int{sense[0]};
                EXPECT_EQ(sense[7] + 8u, sense.size());
                break;
            case HostileKind::kSenseDescriptor:
                EXPECT_EQ(got.status, 2);
                ASSERT_EQ(sense.size(), 20u);
                EXPECT_TRUE(sense[0] == 0x72 || sense[0] == 0x73) << int{sense[0]};
                EXPECT_EQ(sense[7] + 8u, sense.size());
                EXPECT_EQ(sense[8], 0x00);  // an information descriptor
                EXPECT_EQ(sense[9] + 2u, sense.size() - 8);
                break;
            case HostileKind::kSenseOverlong:
                EXPECT_EQ(got.status, 2);
                ASSERT_GE(sense.size(), 18u);
                EXPECT_TRUE(sense[0] >= 0x70 && sense[0] <= 0x73) << int{sense[0]};
                EXPECT_GT(sense[7] + 8u, sense.size());
                break;
            case HostileKind::kSenseBadCode:
                EXPECT_EQ(got.status, 2);
                ASSERT_FALSE(sense.empty());
                EXPECT_EQ(sense[0], 0x7F);
                break;
            case HostileKind::kSenseGarbage:
                EXPECT_EQ(got.status, 2);
                EXPECT_GE(sense.size(), 1u);
                EXPECT_LE(sense.size(), 32u);
                break;
        }
        if (!action.ForServer()) {
            EXPECT_EQ(action.Completes(8), got.status == 0 && got.data >= 8);
        }

        // The set form: the setting changes exactly when the action lets the command take
        // effect, and every action but the server's that refuses it says so in its status.
        SendThroughPassThrough(world, kSetResolution, 8);
        const sim::HostileAction set = *world.PassThroughRequests().back().hostile;
        EXPECT_EQ(world.camera().resolution, set.TakesEffect() ? 1 : 0);
        if (!set.ForServer()) {
            EXPECT_EQ(set.TakesEffect(), set.status == 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, HostileOnThePassThrough,
    ::testing::Values(
        KindCase{"Normal", HostileKind::kNormal}, KindCase{"None", HostileKind::kDataNone},
        KindCase{"Short", HostileKind::kDataShort}, KindCase{"Exact", HostileKind::kDataExact},
        KindCase{"Long", HostileKind::kDataLong}, KindCase{"Status", HostileKind::kStatus},
        KindCase{"SenseFixed", HostileKind::kSenseFixed},
        KindCase{"SenseDescriptor", HostileKind::kSenseDescriptor},
        KindCase{"SenseOverlong", HostileKind::kSenseOverlong},
        KindCase{"SenseBadCode", HostileKind::kSenseBadCode},
        KindCase{"SenseGarbage", HostileKind::kSenseGarbage}, KindCase{"Hang", HostileKind::kHang},
        KindCase{"Unplug", HostileKind::kUnplug}, KindCase{"Storm", HostileKind::kStorm}),
    zqtest::ByName{});

class HostileWorld : public zqtest::SimTest {};

TEST_F(HostileWorld, AnswerCdbCarriesOutTheActionAndHandsBackTheServersOnes) {
    world.PlugCamera('E');
    world.SetHostile(Only(HostileKind::kSenseOverlong, 5));
    sim::World::ScsiAnswer answer = world.AnswerCdb('E', kGetResolution.data(), 16);
    ASSERT_TRUE(answer.hostile.has_value());
    EXPECT_EQ(answer.status, 2);
    ASSERT_GE(answer.sense.size(), 8u);
    EXPECT_GT(answer.sense[7] + 8u, answer.sense.size());
    EXPECT_EQ(answer.hostile->sense, answer.sense);

    world.SetHostile(Only(HostileKind::kUnplug, 5));
    answer = world.AnswerCdb('E', kGetResolution.data(), 16);
    ASSERT_TRUE(answer.hostile.has_value());
    EXPECT_TRUE(answer.hostile->ForServer());
    EXPECT_EQ(answer.hostile->replugMs, sim::HostileSettings{}.replugMs);
    EXPECT_EQ(answer.data.size(), 8u);  // the answer that never reaches the host
}

TEST_F(HostileWorld, InjectedFaultsComeFirstAndDrawNothing) {
    world.PlugCamera('E');
    world.SetHostile(Only(HostileKind::kStatus));
    world.InjectVendorFault(1, sim::Fault::CallFails());
    EXPECT_TRUE(world.AnswerCdb('E', kGetResolution.data(), 16).callFails);
    EXPECT_EQ(world.hostile()->requests(), 0u);
    EXPECT_TRUE(world.AnswerCdb('E', kGetResolution.data(), 16).hostile.has_value());
    EXPECT_EQ(world.hostile()->requests(), 1u);
}

// The trace gains a Hostile line before the call it concerns; every other line is as before.
TEST_F(HostileWorld, TheTraceGainsALinePerAction) {
    simtest::TempFolder folder;
    sim::TraceWriter writer;
    writer.SetPath(folder.Wide("trace.txt"));
    sim::TraceEveryCall(world, writer);
    world.PlugCamera('E');
    world.SetHostile(Only(HostileKind::kSenseBadCode, 9));
    SendThroughPassThrough(world, kGetResolution, 16);
    const std::vector<std::string> lines = folder.Lines("trace.txt");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("CreateFileW ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("Hostile E: request=1 kind=sense-badcode cdb=FA 55 66 FE 60 00 00 "
                             "01 00 00 00 00 00 00 00 00 -> status=02 data=0 sense=7F ",
                             0),
              0u)
        << lines[1];
    EXPECT_EQ(lines[2].rfind("DeviceIoControl E: ", 0), 0u) << lines[2];
    EXPECT_NE(lines[2].find("status=02 data=0"), std::string::npos) << lines[2];
}

// Without a hostile line the world answers byte for byte as it did; with one whose only kind is
// normal it does too, and only the trace's Hostile lines tell them apart.
TEST_F(HostileWorld, WithoutTheLineTheWorldIsUnchanged) {
    const std::string text = "camera E resolution=1\n";
    const sim::ParsedWorld plain = sim::ParseWorldFile(text);
    ASSERT_TRUE(plain.ok());
    EXPECT_FALSE(plain.world.hostile.has_value());
    const sim::ParsedWorld normal = sim::ParseWorldFile(
        text +
        "hostile seed=4 none=0 short=0 exact=0 long=0 status=0 sense-fixed=0 "
        "sense-descriptor=0 sense-overlong=0 sense-badcode=0 sense-garbage=0 hang=0 "
        "unplug=0 storm=0\n");
    ASSERT_TRUE(normal.ok()) << sim::Describe(normal.errors[0]);

    const auto run = [this](const sim::WorldDescription& described) {
        world.Reset();
        sim::ApplyWorldFile(world, described, nullptr);
        std::string lines;
        for (const auto& cdb : {kGetResolution, kSetResolution, kGetResolution}) {
            SendThroughPassThrough(world, cdb, 8);
        }
        const std::uint8_t inquiry[16] = {0x12, 0, 0, 0, 36, 0};
        const sim::World::ScsiAnswer answer = world.AnswerCdb('E', inquiry, 6);
        lines += zqtest::Hex(answer.data) + "\n";
        // Handles are numbered on across resets; the rest of each line must match.
        const std::regex handle("handle [0-9A-F]{8}");
        for (const sim::Event& event : world.events()) {
            lines += std::regex_replace(sim::TraceLine(event), handle, "handle H") + "\n";
        }
        return lines;
    };
    const std::string before = run(plain.world);
    EXPECT_EQ(world.hostile(), nullptr);
    EXPECT_EQ(run(normal.world), before);
    ASSERT_NE(world.hostile(), nullptr);
    EXPECT_EQ(world.hostile()->requests(), 4u);
}

// ---- the world file ----

TEST(HostileLine, IsReadWithItsKeys) {
    const sim::ParsedWorld parsed = sim::ParseWorldFile(
        "hostile seed=0x10 normal=0 hang=7 hang-ms=2500 away-ms=300 storm-plugs=5 "
        "commands=vendor\n");
    ASSERT_TRUE(parsed.ok()) << sim::Describe(parsed.errors[0]);
    ASSERT_TRUE(parsed.world.hostile.has_value());
    sim::HostileSettings expected;
    expected.seed = 16;
    expected.weight(HostileKind::kNormal) = 0;
    expected.weight(HostileKind::kHang) = 7;
    expected.hangMs = 2500;
    expected.replugMs = 300;
    expected.stormPlugs = 5;
    expected.vendorOnly = true;
    EXPECT_TRUE(*parsed.world.hostile == expected);
}

TEST(HostileLine, ReportsWhatItCannotTake) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"hostile",
         "line 1: a hostile line needs its seed; the form is: hostile seed=N "
         "[KIND=WEIGHT]... [hang-ms=MS] [away-ms=MS] [storm-plugs=N] "
         "[commands=all|vendor]"},
        {"hostile seed=1 loud=3",
         "line 1: unknown key \"loud\" in a hostile line; the form is: "
         "hostile seed=N [KIND=WEIGHT]... [hang-ms=MS] [away-ms=MS] "
         "[storm-plugs=N] [commands=all|vendor]"},
        {"hostile seed=x", "line 1: seed must be a number from 0 to 4294967295, not \"x\""},
        {"hostile seed=1 hang-ms=70000",
         "line 1: hang-ms must be a number from 0 to 60000, not \"70000\""},
        {"hostile seed=1 commands=some", "line 1: commands must be all or vendor, not \"some\""},
        {"hostile seed=1\nhostile seed=2", "line 2: a second hostile line"},
        {"hostile seed=1 normal=0 none=0 short=0 exact=0 long=0 status=0 sense-fixed=0 "
         "sense-descriptor=0 sense-overlong=0 sense-badcode=0 sense-garbage=0 hang=0 unplug=0 "
         "storm=0",
         "line 1: every kind of a hostile line has weight 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const sim::ParsedWorld parsed = sim::ParseWorldFile(c.text);
        ASSERT_EQ(parsed.errors.size(), 1u);
        EXPECT_EQ(sim::Describe(parsed.errors[0]), c.error);
    }
}

// A reload that keeps the line keeps the generator going; a changed line starts it afresh; a
// line that goes ends it.
TEST_F(HostileWorld, AReloadKeepsOrRestartsTheGenerator) {
    const sim::WorldDescription first = sim::ParseWorldFile("camera E\nhostile seed=3\n").world;
    sim::ApplyWorldFile(world, first, nullptr);
    world.AnswerCdb('E', kGetResolution.data(), 16);
    sim::ApplyWorldFile(world, first, &first);
    ASSERT_NE(world.hostile(), nullptr);
    EXPECT_EQ(world.hostile()->requests(), 1u);
    const sim::WorldDescription second = sim::ParseWorldFile("camera E\nhostile seed=4\n").world;
    sim::ApplyWorldFile(world, second, &first);
    ASSERT_NE(world.hostile(), nullptr);
    EXPECT_EQ(world.hostile()->requests(), 0u);
    EXPECT_EQ(world.hostile()->settings().seed, 4u);
    const sim::WorldDescription none = sim::ParseWorldFile("camera E\n").world;
    sim::ApplyWorldFile(world, none, &second);
    EXPECT_EQ(world.hostile(), nullptr);
}

}  // namespace
