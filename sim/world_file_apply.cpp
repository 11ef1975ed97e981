#include "sim/world_file_apply.h"

namespace sim {

namespace {

Drive MakeDrive(const DriveDescription& described) {
    Drive drive;
    drive.present = true;
    drive.type = described.type;
    drive.opens = described.opens;
    drive.scsi = described.scsi;
    drive.inquiryByte3 = described.inquiryByte3;
    drive.descriptor =
        described.vendor ? DescriptorWithVendor(*described.vendor) : DescriptorWithoutVendor();
    drive.descriptor.fails = described.queryFails;
    return drive;
}

void Unplug(World& world, char letter) {
    if (world.drive(letter).present) {
        world.RemoveDrive(letter);
    }
}

void PlugCamera(World& world, const CameraDescription& described) {
    Camera& camera = world.PlugCamera(described.letter);
    camera.state = described.state;
    camera.loopRecording = described.loopRecording;
    camera.timestampDisplay = described.timestampDisplay;
    camera.resolution = described.resolution;
    camera.firmware = described.firmware;
    camera.inquiryVendor = described.inquiryVendor;
    camera.answerDelayMs = described.answerDelayMs;
}

template <typename T>
void TakeIfChanged(T& value, const T& next, const T& previous) {
    if (next != previous) {
        value = next;
    }
}

}  // namespace

void ApplyWorldFile(World& world, const WorldDescription& next, const WorldDescription* previous) {
    const WorldDescription empty;
    const WorldDescription& before = previous != nullptr ? *previous : empty;

    // Cameras whose line went go first, so that their letters are free for a drive that takes
    // one. A camera line is known by its letter; one that names another letter is another camera.
    for (const CameraDescription& old : before.cameras) {
        if (next.CameraAt(old.letter) == nullptr) {
            if (Camera* camera = world.CameraFrom(old.letter)) {
                world.UnplugCamera(camera->letter);
            }
        }
    }

    // Drives whose line changed or went are unplugged, then those described now plugged in.
    for (const DriveDescription& old : before.drives) {
        const DriveDescription* now = next.DriveAt(old.letter);
        if (now == nullptr || !(*now == old)) {
            Unplug(world, old.letter);
        }
    }
    for (const DriveDescription& now : next.drives) {
        const DriveDescription* old = before.DriveAt(now.letter);
        if (old == nullptr || !(*old == now)) {
            world.drive(now.letter) = MakeDrive(now);
        }
    }

    for (const CameraDescription& now : next.cameras) {
        const CameraDescription* old = before.CameraAt(now.letter);
        Camera* camera = old != nullptr ? world.CameraFrom(now.letter) : nullptr;
        if (camera == nullptr) {
            PlugCamera(world, now);
            continue;
        }
        TakeIfChanged(camera->state, now.state, old->state);
        TakeIfChanged(camera->loopRecording, now.loopRecording, old->loopRecording);
        TakeIfChanged(camera->timestampDisplay, now.timestampDisplay, old->timestampDisplay);
        TakeIfChanged(camera->resolution, now.resolution, old->resolution);
        TakeIfChanged(camera->firmware, now.firmware, old->firmware);
        TakeIfChanged(camera->inquiryVendor, now.inquiryVendor, old->inquiryVendor);
        TakeIfChanged(camera->answerDelayMs, now.answerDelayMs, old->answerDelayMs);
    }

    // The storage lines are always taken as they are.
    for (const CameraDescription& now : next.cameras) {
        Camera* camera = world.CameraFrom(now.letter);
        if (camera == nullptr) {
            continue;  // another camera line's camera took its letter
        }
        const StorageDescription storage = next.StorageOf(now.letter);
        camera->storageLetter = storage.letter;
        camera->storageDriveType = storage.type;
        camera->storageDescriptor =
            storage.vendor ? DescriptorWithVendor(*storage.vendor) : DescriptorWithoutVendor();
        camera->storageAnswers = storage.answers;
    }

    if (previous == nullptr || !(next.faults == before.faults)) {
        world.ClearFaults();
        for (const FaultDescription& described : next.faults) {
            if (described.inquiry) {
                world.InjectInquiryFault(described.fault);
            } else {
                world.InjectVendorFault(described.code, described.fault);
            }
        }
    }

    // A hostile line that stays keeps its generator going; a changed one starts afresh.
    if (previous == nullptr || !(next.hostile == before.hostile)) {
        world.SetHostile(next.hostile);
    }
}

}  // namespace sim
