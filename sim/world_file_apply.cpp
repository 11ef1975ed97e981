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

void UnplugCamera(World& world) {
    Camera& camera = world.camera();
    if (camera.letter != 0) {
        Unplug(world, camera.letter);
        camera.letter = 0;
    }
}

void PlugCamera(World& world, const CameraDescription& described) {
    Unplug(world, described.letter);  // a fresh device: handles from before stay dead
    Camera& camera = world.PlaceCamera(described.letter);
    camera = Camera{};
    camera.letter = described.letter;
    camera.state = described.state;
    camera.loopRecording = described.loopRecording;
    camera.timestampDisplay = described.timestampDisplay;
    camera.resolution = described.resolution;
    camera.firmware = described.firmware;
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

    // The camera goes first, so that its letter is free for a drive that takes it.
    const bool cameraReplugged =
        next.camera && (!before.camera || before.camera->letter != next.camera->letter);
    if (before.camera && (!next.camera || cameraReplugged)) {
        UnplugCamera(world);
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

    if (cameraReplugged) {
        PlugCamera(world, *next.camera);
    } else if (next.camera) {
        Camera& camera = world.camera();
        const CameraDescription& old = *before.camera;
        TakeIfChanged(camera.state, next.camera->state, old.state);
        TakeIfChanged(camera.loopRecording, next.camera->loopRecording, old.loopRecording);
        TakeIfChanged(camera.timestampDisplay, next.camera->timestampDisplay, old.timestampDisplay);
        TakeIfChanged(camera.resolution, next.camera->resolution, old.resolution);
        TakeIfChanged(camera.firmware, next.camera->firmware, old.firmware);
    }

    Camera& camera = world.camera();
    camera.storageLetter = next.storage.letter;
    camera.storageDriveType = next.storage.type;
    camera.storageDescriptor = next.storage.vendor ? DescriptorWithVendor(*next.storage.vendor)
                                                   : DescriptorWithoutVendor();
    camera.storageAnswers = next.storage.answers;

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
}

}  // namespace sim
