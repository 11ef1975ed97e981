// The virtual camera service's readers of the driver's records (vcam/camera_service.h): a
// request, an answer and a status record from arbitrary bytes, and a request that reads well
// carried out in a simulated world.
//
// Input: byte 0 picks the reader (0 request, 1 answer, 2 status, 3 request carried out after an
// open of the same letter and number); the rest is the record.
//
// Properties: nothing reads outside the record; a request that reads well is written back to a
// record that reads as the same request; an answer that reads well is written back to the same
// bytes; carrying a request out answers it by its number with no more output than it asked for,
// and the service holds exactly the world's open handles.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "sim/world.h"
#include "vcam/camera_service.h"
#include "vcam/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::vector<std::uint8_t> record(data + 1, data + size);
    const std::span<const std::uint8_t> bytes(record);
    switch (data[0] % 4) {
        case 0: {
            std::string error;
            if (const std::optional<vcam::Request> request = vcam::ReadRequest(bytes, &error)) {
                FUZZ_CHECK(vcam::ReadRequest(vcam::WriteRequest(*request), nullptr) == request);
            } else {
                FUZZ_CHECK(!error.empty());
            }
            break;
        }
        case 1:
            if (const std::optional<vcam::Answer> answer = vcam::ReadAnswer(bytes)) {
                FUZZ_CHECK(vcam::WriteAnswer(*answer) == record);
            }
            break;
        case 2:
            if (const std::optional<vcam::DriverStatus> status = vcam::ReadStatus(bytes)) {
                FUZZ_CHECK(status->LettersWith(0xFFFFFFFFu) < (1u << 26));
            }
            break;
        default: {
            const std::optional<vcam::Request> request = vcam::ReadRequest(bytes, nullptr);
            if (!request) {
                break;
            }
            sim::World world;
            world.AddDisk('D');
            world.PlugCamera('E');
            world.AddDrive('F', os::kDriveRemovable).descriptor =
                sim::DescriptorWithVendor(sim::kCameraVendorId);
            vcam::CameraService service(world);
            vcam::Request open;
            open.id = request->id;
            open.kind = ZQVCAM_KIND_OPEN;
            open.letter = request->letter;
            open.handle = request->handle;
            open.share = os::kFileShareRead | os::kFileShareWrite;
            open.options = 0x60;
            service.Carry(open);
            const std::optional<vcam::Answer> answer = service.Carry(*request);
            FUZZ_CHECK(answer.has_value() == (request->kind != ZQVCAM_KIND_CLOSE));
            if (answer) {
                FUZZ_CHECK(answer->id == request->id);
                FUZZ_CHECK(answer->output.size() <= request->outputSize);
                FUZZ_CHECK(answer->status == vcam::kStatusSuccess || answer->output.empty());
            }
            FUZZ_CHECK(service.OpenCount() == world.OpenHandleCount());
            break;
        }
    }
    return 0;
}
