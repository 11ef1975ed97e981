// The simulated computer where its behaviour is not obvious: the driver's checks of a
// pass-through request, the bounds it writes within, the drive list, handle accounting, faults
// met through the link, and storage mode. The camera's own answers are camera_model_test.cpp's.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "link/camera.h"
#include "link/discovery.h"
#include "os/os.h"
#include "tests/support/sim_test.h"

namespace {

using zqtest::Hex;

constexpr std::uint32_t kReadWrite = 0xC0000000u;
constexpr std::uint32_t kShareBoth = 0x3u;

// A pass-through request built here byte by byte: Length 44, TargetId 1, SenseInfoLength 24,
// DataIn 1, TimeOutValue 2, DataBufferOffset 80, SenseInfoOffset 48.
struct Request {
    std::vector<std::uint8_t> bytes;
    std::uint32_t inSize = 44;
    std::uint32_t outSize = 0;

    void Put32(std::size_t at, std::uint32_t value) {
        for (std::size_t i = 0; i < 4; ++i) {
            bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }
};

Request MakeRequest(std::vector<std::uint8_t> cdb, std::uint32_t transferLength,
                    std::uint8_t fill = 0x00, std::size_t total = 256) {
    Request request;
    request.bytes.assign(total, fill);
    std::fill_n(request.bytes.begin(), 80, std::uint8_t{0});
    request.bytes[0] = 44;
    request.bytes[4] = 1;
    request.bytes[6] = static_cast<std::uint8_t>(cdb.size());
    request.bytes[7] = 24;
    request.bytes[8] = 1;
    request.Put32(12, transferLength);
    request.Put32(16, 2);
    request.Put32(20, 80);
    request.Put32(24, 48);
    std::copy(cdb.begin(), cdb.end(), request.bytes.begin() + 28);
    request.outSize = 80 + transferLength;
    return request;
}

Request Inquiry() {
    return MakeRequest({0x12, 0, 0, 0, 36, 0}, 36);
}

std::vector<std::uint8_t> VendorCdb(std::uint8_t form, std::uint8_t code, std::uint8_t arg = 0) {
    return {0xFA, 0x55, 0x66, 0xFE, form, 0, 0, code, arg, 0, 0, 0, 0, 0, 0, 0};
}

class WorldTest : public zqtest::SimTest {
  protected:
    os::Handle Open(char letter, std::uint32_t access = kReadWrite) {
        const wchar_t path[] = {L'\\', L'\\', L'.', L'\\', static_cast<wchar_t>(letter), L':', 0};
        return os::CreateFileW(path, access, kShareBoth, os::kOpenExisting, 0);
    }

    bool Send(os::Handle handle, Request& request) {
        std::uint32_t returned = 0xDEAD;
        const bool ok =
            os::DeviceIoControl(handle, os::kIoctlScsiPassThrough, request.bytes.data(),
                                request.inSize, request.bytes.data(), request.outSize, &returned);
        lastReturned = returned;
        return ok;
    }

    std::uint32_t lastReturned = 0;
};

// ---- the driver ----

TEST_F(WorldTest, MalformedPassThroughRequestFailsAndWritesNothing) {
    world.PlugCamera('E');
    const os::Handle camera = Open('E');
    struct Case {
        const char* name;
        std::function<void(Request&)> spoil;
    };
    const std::vector<Case> cases = {
        {"Length 40", [](Request& r) { r.bytes[0] = 40; }},
        {"Length in the wrong byte",
         [](Request& r) {
             r.bytes[0] = 0;
             r.bytes[1] = 44;
         }},
        {"TargetId 0", [](Request& r) { r.bytes[4] = 0; }},
        {"PathId 1", [](Request& r) { r.bytes[3] = 1; }},
        {"Lun 1", [](Request& r) { r.bytes[5] = 1; }},
        {"CdbLength 0", [](Request& r) { r.bytes[6] = 0; }},
        {"CdbLength 17", [](Request& r) { r.bytes[6] = 17; }},
        {"DataIn 0", [](Request& r) { r.bytes[8] = 0; }},
        {"DataIn 2", [](Request& r) { r.bytes[8] = 2; }},
        {"TimeOutValue 0", [](Request& r) { r.Put32(16, 0); }},
        {"data area inside the head", [](Request& r) { r.Put32(20, 40); }},
        {"data area past the output", [](Request& r) { r.Put32(12, 37); }},
        {"sense area overlapping the data", [](Request& r) { r.Put32(24, 72); }},
        {"sense area past the output",
         [](Request& r) {
             r.Put32(24, 100);
             r.Put32(20, 48);
         }},
        {"input of 43 bytes", [](Request& r) { r.inSize = 43; }},
        {"output one byte short", [](Request& r) { r.outSize = 115; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Request request = Inquiry();
        c.spoil(request);
        const std::vector<std::uint8_t> before = request.bytes;

        EXPECT_FALSE(Send(camera, request));

        EXPECT_EQ(request.bytes, before);
        EXPECT_EQ(lastReturned, 0u);
    }

    Request valid = Inquiry();
    EXPECT_TRUE(Send(camera, valid));
    EXPECT_EQ(valid.bytes[83], 1);
}

TEST_F(WorldTest, PassThroughNeedsAHandleOpenedForReadingAndWriting) {
    world.PlugCamera('E');
    Request request = Inquiry();

    EXPECT_FALSE(Send(Open('E', os::kGenericRead), request));
    EXPECT_TRUE(Send(Open('E', kReadWrite), request));
}

TEST_F(WorldTest, AnswerStaysInsideTheTransferLengthAndTheOutputSize) {
    world.PlugCamera('E');
    const os::Handle camera = Open('E');
    // The INQUIRY asks for 36 bytes but only 8 are to be transferred.
    Request request = MakeRequest({0x12, 0, 0, 0, 36, 0}, 8, 0xCC);

    ASSERT_TRUE(Send(camera, request));

    EXPECT_EQ(request.bytes[83], 1);
    EXPECT_EQ(request.bytes[12], 8);  // DataTransferLength as transferred
    EXPECT_EQ(request.bytes[2], 0);   // ScsiStatus
    EXPECT_EQ(request.bytes[88], 0xCC);
    EXPECT_EQ(request.bytes.back(), 0xCC);
    EXPECT_EQ(lastReturned, 88u);
}

TEST_F(WorldTest, SenseDataStaysInsideTheSenseLength) {
    world.PlugCamera('E');
    const os::Handle camera = Open('E');
    Request request = MakeRequest(VendorCdb(0x60, 0x55), 8, 0xCC);
    request.bytes[7] = 4;
    std::fill(request.bytes.begin() + 48, request.bytes.begin() + 80, std::uint8_t{0xCC});

    ASSERT_TRUE(Send(camera, request));

    EXPECT_EQ(request.bytes[2], 2);  // check condition
    EXPECT_EQ(request.bytes[7], 4);
    EXPECT_EQ(Hex(request.bytes.data() + 48, 5), "70 00 05 00 CC");
    EXPECT_EQ(request.bytes[12], 0);  // nothing transferred
    EXPECT_EQ(Hex(request.bytes.data() + 80, 8), "CC CC CC CC CC CC CC CC");
}

TEST_F(WorldTest, StorageQueryStaysInsideTheOutputSize) {
    world.AddDrive('F', os::kDriveRemovable).descriptor = sim::DescriptorWithVendor("KMZ     ");
    const os::Handle volume = Open('F', os::kGenericRead);
    std::uint8_t query[12] = {};
    std::uint8_t area[64];
    std::memset(area, 0xCC, sizeof area);
    std::uint32_t returned = 0;

    ASSERT_TRUE(os::DeviceIoControl(volume, os::kIoctlStorageQueryProperty, query, 12, area, 20,
                                    &returned));

    EXPECT_EQ(returned, 20u);
    EXPECT_EQ(area[0], 40);   // Version
    EXPECT_EQ(area[12], 40);  // VendorIdOffset
    EXPECT_EQ(area[20], 0xCC);
    EXPECT_EQ(area[63], 0xCC);
}

// ---- drive list ----

TEST_F(WorldTest, DriveListFollowsTheWindowsLengthRules) {
    world.AddDisk('C');
    world.AddDrive('E', os::kDriveRemovable);
    struct Case {
        std::uint32_t length;
        std::uint32_t answer;
        std::wstring written;  // the buffer afterwards, up to the first 'x'
    };
    const Case cases[] = {
        {0, 9, L""},
        {8, 9, L""},
        {9, 8, std::wstring(L"C:\\\0E:\\\0\0", 9)},
        {20, 8, std::wstring(L"C:\\\0E:\\\0\0", 9)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        std::wstring buffer(32, L'x');

        EXPECT_EQ(os::GetLogicalDriveStringsW(c.length, c.length == 0 ? nullptr : buffer.data()),
                  c.answer);

        EXPECT_EQ(buffer.substr(0, buffer.find(L'x')), c.written);
    }
}

TEST_F(WorldTest, DriveListFaults) {
    world.AddDisk('C');
    sim::Drive stick;
    stick.type = os::kDriveRemovable;
    world.AddDriveDuringDriveList('F', stick);
    std::wstring buffer(32, L'x');

    const std::uint32_t needed = os::GetLogicalDriveStringsW(0, nullptr);
    EXPECT_EQ(needed, 5u);
    EXPECT_EQ(os::GetLogicalDriveStringsW(needed, buffer.data()), 9u);
    EXPECT_EQ(os::GetDriveTypeW(L"F:\\"), os::kDriveRemovable);

    world.FailDriveList();
    EXPECT_EQ(os::GetLogicalDriveStringsW(0, nullptr), 0u);
    EXPECT_EQ(os::GetLogicalDriveStringsW(0, nullptr), 9u);
}

TEST_F(WorldTest, DriveTypeOfAbsentOrMalformedRootIsNoRootDir) {
    world.AddDrive('E', os::kDriveCdrom);

    EXPECT_EQ(os::GetDriveTypeW(L"E:\\"), os::kDriveCdrom);
    EXPECT_EQ(os::GetDriveTypeW(L"e:\\"), os::kDriveCdrom);
    EXPECT_EQ(os::GetDriveTypeW(L"E:"), os::kDriveNoRootDir);
    EXPECT_EQ(os::GetDriveTypeW(L"G:\\"), os::kDriveNoRootDir);
}

// ---- handles ----

TEST_F(WorldTest, HandleAccountingCatchesDoubleAndUnknownCloses) {
    world.PlugCamera('E');
    const os::Handle handle = Open('E');
    ASSERT_EQ(world.OpenHandleCount(), 1u);

    EXPECT_TRUE(os::CloseHandle(handle));
    EXPECT_FALSE(os::CloseHandle(handle));
    EXPECT_FALSE(os::CloseHandle(reinterpret_cast<os::Handle>(std::uintptr_t{0x77})));

    EXPECT_EQ(world.OpenHandleCount(), 0u);
    EXPECT_EQ(world.TotalOpened(), 1u);
    EXPECT_EQ(world.TotalClosed(), 1u);
    EXPECT_EQ(world.BadCloses(), 2u);
    Request request = Inquiry();
    EXPECT_FALSE(Send(handle, request));
}

TEST_F(WorldTest, VanishedCameraFailsCallsOnItsOpenHandleEvenAfterReturning) {
    world.PlugCamera('E');
    const os::Handle handle = Open('E');
    world.UnplugCamera('E');
    Request request = Inquiry();

    EXPECT_FALSE(Send(handle, request));
    EXPECT_EQ(Open('E'), os::InvalidHandle());

    // Plugged in again: a new open works, the handle from before stays dead.
    world.PlugCamera('E');
    EXPECT_FALSE(Send(handle, request));
    EXPECT_TRUE(Send(Open('E'), request));

    EXPECT_TRUE(os::CloseHandle(handle));
    EXPECT_EQ(world.BadCloses(), 0u);
}

// A test that takes the other form of the pass-through head leaves none of it to the next: the
// reset world takes the form of the program it stands in again (32-bit unless built for Win64).
TEST_F(WorldTest, ResetTakesTheHeadFormOfThisProcessAgain) {
    const bool own = world.Caller64();
    world.SetCaller64(!own);
    world.Reset();
    EXPECT_EQ(world.Caller64(), own);
}

// Each thread has its own last error, as on Windows: a failure on one thread does not change
// what another reads after its own call.
TEST_F(WorldTest, EachThreadReadsTheErrorOfItsOwnLastCall) {
    world.AddDrive('F', os::kDriveRemovable).opens = false;
    ASSERT_EQ(Open('G'), os::InvalidHandle());
    ASSERT_EQ(os::GetLastError(), os::kErrorFileNotFound);

    std::uint32_t other = 0;
    std::thread([this, &other] {
        EXPECT_EQ(Open('F'), os::InvalidHandle());
        other = os::GetLastError();
    }).join();

    EXPECT_EQ(other, os::kErrorAccessDenied);
    EXPECT_EQ(os::GetLastError(), os::kErrorFileNotFound);
}

// ---- faults ----

TEST_F(WorldTest, FaultsHitAsManyRequestsAsTheyAreGiven) {
    world.PlugCamera('E').state = 3;
    std::int32_t err = 0;
    ASSERT_TRUE(FindCamera(err));
    world.InjectVendorFault(14, sim::Fault::CallFails(2));
    world.InjectVendorFault(14, sim::Fault::ShortAnswer(0));
    std::vector<bool> results;
    std::vector<std::int32_t> states;

    for (int i = 0; i < 5; ++i) {
        std::int32_t state = -1;
        results.push_back(GetCameraState(state, err));
        states.push_back(state);
    }

    EXPECT_EQ(results, (std::vector<bool>{false, false, true, true, true}));
    EXPECT_EQ(states, (std::vector<std::int32_t>{-1, -1, 0, 3, 3}));

    world.InjectVendorFault(14, sim::Fault::CallFails(sim::kAlways));
    std::int32_t state = -1;
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(GetCameraState(state, err));
    }
}

TEST_F(WorldTest, ObserverSeesEachFinishedCallInOrder) {
    world.PlugCamera('E');
    std::vector<std::string> log;
    world.SetObserver([&log](const sim::Event& e) {
        log.push_back(std::to_string(e.index) + (e.result ? " ok" : " failed"));
    });
    std::int32_t err = 0;

    ASSERT_TRUE(FindCamera(err));

    // D: fails to open; E: opens and answers the INQUIRY.
    EXPECT_EQ(log, (std::vector<std::string>{"0 failed", "1 ok", "2 ok"}));
}

// ---- storage mode ----

TEST_F(WorldTest, ReleasedCameraPresentsItsVolumeAndAnswersAsConfigured) {
    struct Case {
        const char* name;
        sim::StorageAnswers answers;
        char storageLetter;
        char volume;
        bool reconnects;
    };
    const Case cases[] = {
        {"keeps answering", sim::StorageAnswers::kKeepsAnswering, 0, 'E', true},
        {"plain disk", sim::StorageAnswers::kPlainDisk, 0, 'E', false},
        {"volume on G:", sim::StorageAnswers::kKeepsAnswering, 'G', 'G', true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        world.PlugCamera('E');
        world.drive('E').type = os::kDriveCdrom;
        world.camera().storageAnswers = c.answers;
        world.camera().storageLetter = c.storageLetter;
        std::int32_t err = 0;
        ASSERT_TRUE(FindCamera(err));

        ASSERT_TRUE(ReleaseCamera(err));

        EXPECT_EQ(world.camera().mode, sim::CameraMode::kStorage);
        const wchar_t root[] = {static_cast<wchar_t>(c.volume), L':', L'\\', 0};
        EXPECT_EQ(os::GetDriveTypeW(root), os::kDriveRemovable);
        const os::Handle volume = Open(c.volume, os::kGenericRead);
        std::uint8_t query[12] = {};
        std::uint8_t area[551] = {};
        std::uint32_t returned = 0;
        ASSERT_TRUE(os::DeviceIoControl(volume, os::kIoctlStorageQueryProperty, query, 12, area,
                                        551, &returned));
        const std::uint32_t at = area[12];
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(area + at)), "KMZ     ");
        EXPECT_LT(at, returned);
        os::CloseHandle(volume);

        world.ClearTrace();
        EXPECT_EQ(FindCamera(err), c.reconnects);
        if (c.volume != 'E') {
            EXPECT_EQ(os::GetDriveTypeW(L"E:\\"), os::kDriveNoRootDir);
        }
    }
}

// The SCSI-level entry that transports other than the pass-through call (the usbip camera) use:
// the same devices, the same faults and the same effects, without a trace line.
TEST_F(WorldTest, AnswerCdbServesTheDeviceBehindALetter) {
    world.PlugCamera('E').state = 3;
    world.AddDisk('D', 2);
    world.drive('F').present = true;
    world.drive('F').scsi = sim::ScsiDevice::kRefusesInquiry;
    world.InjectVendorFault(14, sim::Fault::CheckCondition(1));
    const auto cdb = [](std::vector<std::uint8_t> bytes) {
        bytes.resize(16, 0);
        return bytes;
    };
    const std::vector<std::uint8_t> inquiry = cdb({0x12, 0, 0, 0, 36, 0});
    const std::vector<std::uint8_t> state = VendorCdb(0x60, 14);
    struct Case {
        const char* name;
        char letter;
        std::vector<std::uint8_t> cdb;
        std::uint8_t length;
        bool callFails;
        std::uint8_t status;
        std::string data;  // hex
        std::uint8_t senseKey;
    };
    const std::vector<Case> cases = {
        {"camera inquiry", 'E', inquiry, 6, false, 0, "", 0},
        {"state, refused by the fault after one byte", 'E', state, 16, false, 2, "03", 0x0B},
        {"state, fault used up", 'E', state, 16, false, 0, "03 00 00 00 00 00 00 00", 0},
        {"vendor block cut to 10 bytes", 'E', state, 10, false, 2, "", 0x05},
        {"disk inquiry", 'D', inquiry, 6, false, 0, "", 0},
        {"disk asked a vendor command", 'D', state, 16, false, 2, "", 0x05},
        {"refusing device", 'F', inquiry, 6, false, 2, "", 0x05},
        {"no drive", 'G', inquiry, 6, true, 0, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const sim::World::ScsiAnswer answer = world.AnswerCdb(c.letter, c.cdb.data(), c.length);
        EXPECT_EQ(answer.callFails, c.callFails);
        EXPECT_EQ(answer.status, c.status);
        if (c.cdb[0] == 0x12 && c.status == 0 && !c.callFails) {
            ASSERT_EQ(answer.data.size(), 36u);
            EXPECT_EQ(answer.data[3], c.letter == 'E' ? 1 : 2);
        } else {
            EXPECT_EQ(Hex(answer.data), c.data);
        }
        EXPECT_EQ(answer.sense.size() > 2 ? answer.sense[2] : 0, c.senseKey);
    }
    EXPECT_TRUE(world.events().empty());

    const std::uint32_t before = world.Generation('E');
    world.UnplugCamera('E');
    EXPECT_NE(world.Generation('E'), before);
    EXPECT_TRUE(world.AnswerCdb('E', inquiry.data(), 6).callFails);
}

}  // namespace
