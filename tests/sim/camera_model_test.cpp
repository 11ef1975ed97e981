// The camera model on its own, without drives or a pass-through call: its reading of vendor
// blocks, what each injected fault does to an answer and to the command's effect, the order the
// faults are met in across cameras, and the INQUIRY of each mode.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/camera_model.h"
#include "sim/hostile.h"
#include "tests/support/sim_test.h"
#include "tests/support/wire.h"

namespace {

using zqtest::Hex;

std::vector<std::uint8_t> VendorCdb(std::uint8_t form, std::uint8_t code, std::uint8_t arg = 0) {
    return {0xFA, 0x55, 0x66, 0xFE, form, 0, 0, code, arg, 0, 0, 0, 0, 0, 0, 0};
}

sim::ScsiAnswer Send(sim::CameraModel& model, sim::Camera& camera,
                     const std::vector<std::uint8_t>& cdb) {
    std::vector<std::uint8_t> block = cdb;
    block.resize(16, 0);  // the model reads 16 bytes, the first cdb.size() of them the command
    return model.Answer(camera, block.data(), static_cast<std::uint8_t>(cdb.size()));
}

std::string InquiryVendor(const sim::ScsiAnswer& answer) {
    return answer.data.size() < 16 ? std::string()
                                   : std::string(answer.data.begin() + 8, answer.data.begin() + 16);
}

// ---- the camera's reading of vendor blocks ----

TEST(CameraModel, RefusesBlocksItDoesNotKnowWithACheckCondition) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> cdb;
        std::uint8_t status;
    };
    auto spoilt = [](std::size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> cdb = VendorCdb(0x06, 2, 1);
        cdb[at] = value;
        return cdb;
    };
    const std::vector<Case> cases = {
        {"set 2 to 1", VendorCdb(0x06, 2, 1), 0},
        {"byte 1 not 55", spoilt(1, 0x00), 2},
        {"byte 2 not 66", spoilt(2, 0x00), 2},
        {"byte 3 not FE", spoilt(3, 0x00), 2},
        {"form 16", spoilt(4, 0x16), 2},
        {"byte 5 not 0", spoilt(5, 0x01), 2},
        {"byte 6 not 0", spoilt(6, 0x01), 2},
        {"unused argument set", spoilt(9, 0x01), 2},
        {"unknown code", VendorCdb(0x06, 0x55, 1), 2},
        {"get form of the date", VendorCdb(0x60, 4), 2},
        {"set form of the state", VendorCdb(0x06, 14, 1), 2},
        {"set form of the release", VendorCdb(0x06, 15), 2},
        {"block of 12 bytes", {0xFA, 0x55, 0x66, 0xFE, 0x06, 0, 0, 2, 1, 0, 0, 0}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::CameraModel model;
        sim::Camera camera;

        const sim::ScsiAnswer answer = Send(model, camera, c.cdb);

        EXPECT_FALSE(answer.callFails);
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(camera.loopRecording, c.status == 0 ? 1 : 0);
        EXPECT_EQ(camera.mode, sim::CameraMode::kCommand);
        if (c.status != 0) {
            ASSERT_GE(answer.sense.size(), 3u);
            EXPECT_EQ(answer.sense[2], 0x05);  // illegal request
            EXPECT_TRUE(answer.data.empty());
        }
    }
}

// ---- faults ----

// Each kind on a set form (overwrite on) and on a get form (the firmware's first piece): what
// the caller receives, and whether the command took effect.
TEST(CameraModel, EachFaultShapesTheAnswerAndTheEffectAsItsKindSays) {
    struct Case {
        const char* name;
        std::optional<sim::Fault> fault;
        bool callFails;
        std::uint8_t status;
        std::uint8_t senseKey;  // 0: no sense
        const char* firmwareData;
        bool setSticks;
    };
    const Case cases[] = {
        {"no fault", std::nullopt, false, 0, 0, "56 31 2E 31 00 00 00 00", true},
        {"call fails", sim::Fault::CallFails(), true, 0, 0, "", false},
        {"short answer of 3", sim::Fault::ShortAnswer(3), false, 0, 0, "56 31 2E", true},
        {"short answer of 0", sim::Fault::ShortAnswer(0), false, 0, 0, "", true},
        {"check condition after 2", sim::Fault::CheckCondition(2), false, 2, 0x0B, "56 31", false},
        {"ignored", sim::Fault::Ignored(), false, 0, 0, "56 31 2E 31 00 00 00 00", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::CameraModel model;
        sim::Camera camera;
        if (c.fault) {
            model.InjectVendorFault(26, *c.fault);
            model.InjectVendorFault(2, *c.fault);
        }

        const sim::ScsiAnswer firmware = Send(model, camera, VendorCdb(0x60, 26));
        const sim::ScsiAnswer set = Send(model, camera, VendorCdb(0x06, 2, 1));

        for (const sim::ScsiAnswer* answer : {&firmware, &set}) {
            EXPECT_EQ(answer->callFails, c.callFails);
            EXPECT_EQ(answer->status, c.status);
            EXPECT_EQ(answer->sense.size() > 2 ? answer->sense[2] : 0, c.senseKey);
        }
        EXPECT_EQ(Hex(firmware.data), c.firmwareData);
        EXPECT_EQ(camera.loopRecording, c.setSticks ? 1 : 0);

        // Used up: the next request is answered as usual.
        EXPECT_EQ(Hex(Send(model, camera, VendorCdb(0x60, 26)).data), "56 31 2E 31 00 00 00 00");
    }
}

// Faults belong to the computer: with two cameras the next matching request meets the next fault,
// whichever camera it goes to, and the faults are met in the order injected.
TEST(CameraModel, FaultsAreMetInOrderWhicheverCameraTheRequestGoesTo) {
    sim::CameraModel model;
    sim::Camera first;
    sim::Camera second;
    model.InjectVendorFault(14, sim::Fault::ShortAnswer(1));
    model.InjectVendorFault(14, sim::Fault::CallFails());
    model.InjectInquiryFault(sim::Fault::CallFails());
    const std::vector<std::uint8_t> inquiry = {0x12, 0, 0, 0, 36, 0};

    EXPECT_EQ(Send(model, second, VendorCdb(0x60, 14)).data.size(), 1u);
    EXPECT_FALSE(Send(model, first, VendorCdb(0x60, 11)).callFails) << "another code";
    EXPECT_TRUE(Send(model, first, VendorCdb(0x60, 14)).callFails);
    EXPECT_EQ(Send(model, second, VendorCdb(0x60, 14)).data.size(), 8u);
    EXPECT_TRUE(Send(model, second, inquiry).callFails);
    EXPECT_EQ(Send(model, first, inquiry).data.size(), 36u);

    model.InjectVendorFault(14, sim::Fault::CallFails(sim::kAlways));
    model.ClearFaults();
    EXPECT_FALSE(Send(model, first, VendorCdb(0x60, 14)).callFails);
}

// A request that meets a fault draws no hostile action; the next one does.
TEST(CameraModel, AFaultComesBeforeTheHostileGenerator) {
    sim::CameraModel model;
    sim::Camera camera;
    camera.letter = 'E';
    sim::HostileSettings settings;
    settings.seed = 7;
    settings.weights.fill(0);
    settings.weight(sim::HostileKind::kStatus) = 1;
    model.SetHostile(settings);
    model.InjectVendorFault(1, sim::Fault::ShortAnswer(4));

    const sim::ScsiAnswer faulted = Send(model, camera, VendorCdb(0x60, 1));
    const sim::ScsiAnswer drawn = Send(model, camera, VendorCdb(0x60, 1));

    EXPECT_FALSE(faulted.hostile.has_value());
    EXPECT_EQ(faulted.data.size(), 4u);
    ASSERT_TRUE(drawn.hostile.has_value());
    EXPECT_EQ(drawn.hostile->kind, sim::HostileKind::kStatus);
    EXPECT_EQ(drawn.hostile->request, 1u) << "the faulted request was not counted";
    EXPECT_EQ(drawn.hostile->letter, 'E');
    ASSERT_NE(model.hostile(), nullptr);
    model.SetHostile(std::nullopt);
    EXPECT_EQ(model.hostile(), nullptr);
}

// ---- modes ----

// The camera promises no vendor name in command mode; its storage disk says KMZ. The release
// itself only changes the mode and counts: where the volume appears is the world's.
TEST(CameraModel, InquiryVendorIsTheWorldsInCommandModeAndKmzInStorage) {
    sim::CameraModel model;
    sim::Camera camera;
    camera.letter = 'E';
    camera.inquiryVendor = "ACME";
    const std::vector<std::uint8_t> inquiry = {0x12, 0, 0, 0, 36, 0};

    EXPECT_EQ(InquiryVendor(Send(model, camera, inquiry)), "ACME    ");
    const sim::ScsiAnswer release = Send(model, camera, VendorCdb(0x60, 15));
    EXPECT_EQ(Hex(release.data), "00 00 00 00 00 00 00 00");
    EXPECT_EQ(camera.mode, sim::CameraMode::kStorage);
    EXPECT_EQ(camera.releases, 1);
    EXPECT_EQ(camera.letter, 'E');
    EXPECT_EQ(InquiryVendor(Send(model, camera, inquiry)), "KMZ     ");
}

}  // namespace
