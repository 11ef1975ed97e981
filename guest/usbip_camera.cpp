// zq-usbip-camera: the simulated computer of a world file (sim/world_file.h), served as USB
// mass-storage devices over USB/IP, for a Linux kernel's vhci-hcd to import.
//
//   zq-usbip-camera --world FILE [--port N] [--bus N] [--state FILE]
//
// Every letter of the world that has a SCSI device becomes one USB device: the camera's letter
// the camera (its INQUIRY and vendor commands from the camera model of sim/world.h, with the
// world's faults), every other drive with `scsi=disk` or `scsi=refuses` a plain disk. The devices
// are exported with bus id "BUS-N", N being the letter's place in the alphabet (E: "1-5"), and a
// device number that changes with every plug.
//
// The world file is watched (its time of writing and size, ten times a second, and after every
// command) and applied as the simulated program applies it: a letter that goes is unplugged
// (the URB connection closed, so the kernel sees the device leave), a letter that comes is
// exported for the next import. The release command (15) puts the camera in storage mode: on its
// own letter its medium appears; with `storage letter=X` it leaves and comes back on X, as a
// device that enumerates again in storage mode does.
//
// --state FILE is rewritten after every command: the camera's settings, clock and mode as the
// model holds them, and each device with its bus id and whether it is imported; tests read it.
// A log line for every plug, import and SCSI command goes to standard error; a command's line
// tells when it came (t=, milliseconds since the first command).
//
// With the world file's hostile line (docs/simulator.md) the camera misbehaves: the model carries
// out the actions that lie in an answer's bytes, and the server those that need the bus:
//   hang    the bulk-in URBs of the command (its data and status) are held back for the hang's
//           time and then answered; a URB the host unlinks meanwhile (its time-out) is dropped
//           and the command abandoned
//   unplug  the command's URB is never answered: the device leaves at once (its connection
//           closed) and is plugged in again, as a new device, after the action's time away
//   storm   as unplug, then the device comes back and leaves again the action's number of
//           times, each time imported and left after a short stay, before it stays
// Every action is logged as its trace line ("Hostile E: request=N kind=..."), when it is drawn;
// the server's actions also when they end: "Hostile E: request=N outcome=answered after=MS"
// (the hang's answer went out), "outcome=unlinked after=MS" (the host gave up on it),
// "outcome=reset" (the host reset the device under it), "outcome=unplugged"; and the comings
// and goings: "away E: back, storm plugs left N", "away E: the storm takes it again, ...".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "guest/mass_storage.h"
#include "guest/usbip_io.h"
#include "guest/usbip_wire.h"
#include "os/bytes.h"
#include "os/text.h"
#include "sim/world.h"
#include "sim/world_file_apply.h"
#include "sim/world_file_parse.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

void Log(const std::string& line) {
    std::fprintf(stderr, "usbip-camera: %s\n", line.c_str());
    std::fflush(stderr);
}

// Milliseconds on the monotonic clock since the server's first command: when each command came,
// for the pauses between them.
long long MillisecondsSinceStart() {
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

using usbip::ReadAll;
using usbip::WriteAll;

// ---- descriptors ----

// USB identity of the test devices: the pid.codes test vendor and product IDs, as the camera's
// own are not part of what the program relies on.
constexpr std::uint16_t kVendorId = 0x1209;
constexpr std::uint16_t kCameraProductId = 0x0001;
constexpr std::uint16_t kDiskProductId = 0x0002;
constexpr std::uint16_t kBcdDevice = 0x0100;
constexpr std::uint8_t kBulkIn = 0x81;
constexpr std::uint8_t kBulkOut = 0x02;
constexpr std::uint16_t kMaxPacket = 512;

std::vector<std::uint8_t> DeviceDescriptor(std::uint16_t productId) {
    return {18,
            1,
            0x00,
            0x02,  // USB 2.0
            0,
            0,
            0,
            64,
            static_cast<std::uint8_t>(kVendorId & 0xFF),
            static_cast<std::uint8_t>(kVendorId >> 8),
            static_cast<std::uint8_t>(productId & 0xFF),
            static_cast<std::uint8_t>(productId >> 8),
            static_cast<std::uint8_t>(kBcdDevice & 0xFF),
            static_cast<std::uint8_t>(kBcdDevice >> 8),
            1,
            2,
            3,
            1};
}

std::vector<std::uint8_t> ConfigurationDescriptor() {
    const std::uint8_t maxLow = kMaxPacket & 0xFF;
    const std::uint8_t maxHigh = kMaxPacket >> 8;
    return {
        9, 2, 32,       0, 1,      1,       0, 0x80, 50,  // configuration 1, bus powered, 100 mA
        9, 4, 0,        0, 2,      8,       6, 0x50, 0,   // mass storage, SCSI, bulk-only
        7, 5, kBulkIn,  2, maxLow, maxHigh, 0,            // bulk in
        7, 5, kBulkOut, 2, maxLow, maxHigh, 0,            // bulk out
    };
}

std::vector<std::uint8_t> StringDescriptor(const std::string& text) {
    std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (const char c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(0);
    }
    return bytes;
}

// ---- one exported device ----

struct Device {
    char letter = 0;
    std::uint32_t generation = 0;
    std::uint32_t busnum = 1;
    std::uint32_t devnum = 0;
    bool camera = false;
    std::string busid;
    int fd = -1;             // the URB connection once imported
    bool leaving = false;    // its letter went; unplugged once the command in progress is done
    bool unplugged = false;  // its unplugging has been logged
    std::unique_ptr<usbcam::ScsiPlumbing> plumbing;
    std::unique_ptr<usbcam::BulkOnlyTransport> transport;
    std::chrono::steady_clock::time_point importedAt;

    // The hostile camera's action drawn by the command being taken, until the server has seen it.
    std::optional<sim::HostileAction> drawn;
    // A hang in progress: its action, when it ends, and the bulk-in URBs held back meanwhile
    // (their headers, in the order they came).
    std::optional<sim::HostileAction> hang;
    std::chrono::steady_clock::time_point hangStart;
    std::chrono::steady_clock::time_point hangEnd;
    std::vector<std::array<std::uint8_t, usbip::kUrbHeaderSize>> held;

    std::string Manufacturer() const { return camera ? "KMZ" : "ZQSIM"; }
    std::string Product() const { return camera ? "DV CAMERA" : "SIMULATED DISK"; }
    std::string Serial() const {
        return std::string("ZQ") + letter + "-" + std::to_string(busnum) + "-" +
               std::to_string(devnum);
    }
    std::uint16_t ProductId() const { return camera ? kCameraProductId : kDiskProductId; }
    std::uint32_t DevId() const { return (busnum << 16) | devnum; }

    void Record(std::uint8_t* record) const {
        std::memset(record, 0, usbip::kDevRecordSize);
        const std::string path = "/zelquin/world/" + std::string(1, letter);
        std::memcpy(record + usbip::kDevPath, path.data(), path.size());
        std::memcpy(record + usbip::kDevBusId, busid.data(), busid.size());
        usbip::PutBe32(record, usbip::kDevBusNum, busnum);
        usbip::PutBe32(record, usbip::kDevDevNum, devnum);
        usbip::PutBe32(record, usbip::kDevSpeed, usbip::kSpeedHigh);
        usbip::PutBe16(record, usbip::kDevIdVendor, kVendorId);
        usbip::PutBe16(record, usbip::kDevIdProduct, ProductId());
        usbip::PutBe16(record, usbip::kDevBcdDevice, kBcdDevice);
        record[usbip::kDevConfigurationValue] = 1;
        record[usbip::kDevNumConfigurations] = 1;
        record[usbip::kDevNumInterfaces] = 1;
    }

    // A control request on endpoint 0. Returns false to stall.
    bool Control(const std::uint8_t* setup, std::vector<std::uint8_t>& data) {
        const std::uint8_t type = setup[0];
        const std::uint8_t request = setup[1];
        const std::uint16_t value = bytes::GetLe16(setup, 2);
        const std::uint16_t length = bytes::GetLe16(setup, 6);
        data.clear();
        if (type == 0x80 && request == 6) {
            const std::uint8_t kind = static_cast<std::uint8_t>(value >> 8);
            const std::uint8_t index = static_cast<std::uint8_t>(value & 0xFF);
            if (kind == 1) {
                data = DeviceDescriptor(ProductId());
            } else if (kind == 2 && index == 0) {
                data = ConfigurationDescriptor();
            } else if (kind == 3 && index == 0) {
                data = {4, 3, 0x09, 0x04};  // English (United States)
            } else if (kind == 3 && index <= 3) {
                data = StringDescriptor(index == 1   ? Manufacturer()
                                        : index == 2 ? Product()
                                                     : Serial());
            } else {
                return false;
            }
        } else if ((type == 0x00 && request == 9) || (type == 0x01 && request == 11) ||
                   (type == 0x02 && request == 1) || (type == 0x00 && request == 1) ||
                   (type == 0x00 && request == 3)) {
            // SET_CONFIGURATION, SET_INTERFACE, CLEAR_FEATURE, SET_FEATURE: nothing to keep.
        } else if ((type & 0xFC) == 0x80 && request == 0) {
            data = {0, 0};  // GET_STATUS
        } else if (type == 0x80 && request == 8) {
            data = {1};  // GET_CONFIGURATION
        } else if (type == 0x81 && request == 10) {
            data = {0};  // GET_INTERFACE
        } else if (type == 0xA1 && request == 0xFE) {
            data = {0};  // GET MAX LUN: one logical unit
        } else if (type == 0x21 && request == 0xFF) {
            transport->Reset();  // bulk-only mass storage reset
            if (hang) {
                Log("hostile " + std::string(1, letter) +
                    ": request=" + std::to_string(hang->request) + " outcome=reset");
                hang.reset();
                held.clear();
            }
            Log(busid + " bulk-only reset");
        } else {
            return false;
        }
        if (data.size() > length) {
            data.resize(length);
        }
        return true;
    }
};

// ---- the server ----

struct Options {
    std::string world;
    int port = 3240;
    std::uint32_t bus = 1;
    std::string state;
};

class Server {
  public:
    explicit Server(Options options) : options_(std::move(options)) {}

    int Run();

  private:
    struct FileStamp {
        long long mtime = -1;
        long long size = -1;
        bool operator==(const FileStamp&) const = default;
    };

    bool LoadWorld(bool initial);
    FileStamp Stamp() const;
    void Reconcile();
    void Unplug(Device& device);
    void WriteState();

    void Accept();
    void OnOperation(int fd);
    void OnUrb(Device& device);
    bool Reply(Device& device, const std::uint8_t* command, std::int32_t status,
               const std::vector<std::uint8_t>& data);
    // Answers a bulk-in URB from the transport.
    bool AnswerBulkIn(Device& device, const std::uint8_t* command);

    // The hostile camera's actions on the bus.
    void TakeDrawn(Device& device, bool& answerCommand);
    void OnUnlink(Device& device, const std::uint8_t* command);
    // Ends the hangs that are over and moves the storms on; true when the devices changed.
    bool Tick();
    // Milliseconds until the next hang or storm step is due (at most `idle`).
    int NextDueMs(int idle) const;
    bool Away(char letter) const;

    // A letter whose device left for a hostile action: exported again from `back` on; with
    // `stormLeft`, that many more times imported, left after a stay, and away a short while.
    struct Absence {
        std::chrono::steady_clock::time_point back;
        std::uint32_t stormLeft = 0;
        std::uint64_t noise = 0;  // draws the storm's stays
        std::uint64_t request = 0;
    };
    std::map<char, Absence> away_;

    Options options_;
    sim::World world_;
    std::optional<sim::WorldDescription> applied_;
    FileStamp stamp_;
    int listener_ = -1;
    std::vector<int> pending_;  // connections before their operation
    std::map<char, std::unique_ptr<Device>> devices_;
    std::uint32_t nextDevnum_ = 2;
};

Server::FileStamp Server::Stamp() const {
    struct stat info = {};
    if (stat(options_.world.c_str(), &info) != 0) {
        return {};
    }
    return {static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec,
            static_cast<long long>(info.st_size)};
}

bool Server::LoadWorld(bool initial) {
    const FileStamp stamp = Stamp();
    if (!initial && stamp == stamp_) {
        return true;
    }
    stamp_ = stamp;
    std::ifstream file(options_.world, std::ios::binary);
    if (!file) {
        Log("cannot read the world file " + options_.world);
        return false;
    }
    std::stringstream text;
    text << file.rdbuf();
    const sim::ParsedWorld parsed = sim::ParseWorldFile(text.str());
    if (!parsed.ok()) {
        Log("world file " + options_.world + " not taken, the world stays as it is:");
        for (const sim::WorldFileError& error : parsed.errors) {
            Log("  " + sim::Describe(error));
        }
        return false;
    }
    sim::ApplyWorldFile(world_, parsed.world, applied_ ? &*applied_ : nullptr);
    applied_ = parsed.world;
    Log("world file " + options_.world + " applied");
    Reconcile();
    return true;
}

// Brings the exported devices in line with the world: a letter whose device went, or was
// plugged in again, is unplugged; a new one is exported.
void Server::Reconcile() {
    const sim::Camera& camera = world_.camera();
    std::map<char, std::uint32_t> wanted;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const sim::Drive& drive = world_.drive(letter);
        if (drive.present && (letter == camera.letter || drive.scsi != sim::ScsiDevice::kNone) &&
            !Away(letter)) {
            wanted[letter] = world_.Generation(letter);
        }
    }
    for (auto it = devices_.begin(); it != devices_.end();) {
        Device& device = *it->second;
        const auto found = wanted.find(device.letter);
        const bool stays = found != wanted.end() && found->second == device.generation &&
                           (device.letter == camera.letter) == device.camera;
        if (stays) {
            ++it;
            continue;
        }
        device.leaving = true;
        if (device.fd >= 0 && !device.transport->Idle()) {
            ++it;  // finishes the command in progress first
            continue;
        }
        Unplug(device);
        it = devices_.erase(it);
    }
    for (const auto& [letter, generation] : wanted) {
        if (devices_.count(letter) != 0) {
            continue;
        }
        auto device = std::make_unique<Device>();
        device->letter = letter;
        device->generation = generation;
        device->busnum = options_.bus;
        device->devnum = nextDevnum_;
        nextDevnum_ = nextDevnum_ >= 127 ? 2 : nextDevnum_ + 1;
        device->camera = letter == camera.letter;
        device->busid = std::to_string(options_.bus) + "-" + std::to_string(letter - 'A' + 1);
        Device* self = device.get();
        device->plumbing = std::make_unique<usbcam::ScsiPlumbing>(
            [this, self](const std::uint8_t* cdb, std::uint8_t length) {
                const sim::World::ScsiAnswer answer = world_.AnswerCdb(self->letter, cdb, length);
                if (answer.hostile) {
                    Log(sim::HostileTraceLine(*answer.hostile));
                    self->drawn = answer.hostile;
                }
                usbcam::ScsiResult result;
                result.phaseError = answer.callFails;
                result.status = answer.status;
                result.data = answer.data;
                result.sense = answer.sense;
                return result;
            },
            [this, self]() {
                if (self->camera) {
                    return world_.camera().letter == self->letter &&
                           world_.camera().mode == sim::CameraMode::kStorage;
                }
                return world_.drive(self->letter).scsi == sim::ScsiDevice::kDisk;
            });
        device->transport = std::make_unique<usbcam::BulkOnlyTransport>(
            [self](const std::uint8_t* cdb, std::uint8_t length) {
                return self->plumbing->Execute(cdb, length);
            });
        device->transport->SetOnCommand([self](const usbcam::BulkOnlyTransport::Record& r) {
            std::string line =
                self->busid + " " + std::string(1, self->letter) +
                ": t=" + std::to_string(MillisecondsSinceStart()) + " cdb=" + os::HexBytes(r.cdb) +
                (r.dataIn ? " in=" : " out=") + std::to_string(r.hostLength) +
                " -> csw=" + std::to_string(r.cswStatus) +
                " status=" + std::to_string(r.scsiStatus) + " data=" + std::to_string(r.dataBytes);
            if (!r.sense.empty()) {
                line += " sense=" + os::HexBytes(r.sense);
            }
            Log(line);
        });
        Log("plug " + device->busid + " letter " + std::string(1, letter) +
            (device->camera ? " camera" : " disk") + " devid " + std::to_string(device->DevId()));
        devices_[letter] = std::move(device);
    }
    WriteState();
}

void Server::Unplug(Device& device) {
    if (!device.unplugged) {
        Log("unplug " + device.busid + " letter " + std::string(1, device.letter));
    }
    device.unplugged = true;
    device.hang.reset();
    device.held.clear();
    if (device.fd >= 0) {
        shutdown(device.fd, SHUT_RDWR);
        close(device.fd);
        device.fd = -1;
    }
}

void Server::WriteState() {
    if (options_.state.empty()) {
        return;
    }
    const sim::Camera& c = world_.camera();
    std::string text;
    char line[256];
    std::snprintf(line, sizeof line,
                  "camera letter=%c mode=%s state=%u overwrite=%u timestamp=%u resolution=%u "
                  "date=%02X,%02X,%02X dateset=%d time=%02X,%02X,%02X timeset=%d releases=%d\n",
                  c.letter == 0 ? '-' : c.letter,
                  c.mode == sim::CameraMode::kStorage ? "storage" : "command", c.state,
                  c.loopRecording, c.timestampDisplay, c.resolution, c.date[0], c.date[1],
                  c.date[2], c.dateReceived ? 1 : 0, c.time[0], c.time[1], c.time[2],
                  c.timeReceived ? 1 : 0, c.releases);
    text += line;
    for (const auto& [letter, device] : devices_) {
        std::snprintf(line, sizeof line, "device busid=%s letter=%c kind=%s devid=%u imported=%d\n",
                      device->busid.c_str(), letter, device->camera ? "camera" : "disk",
                      device->DevId(), device->fd >= 0 ? 1 : 0);
        text += line;
    }
    const std::string temporary = options_.state + ".new";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr) {
        return;
    }
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    std::rename(temporary.c_str(), options_.state.c_str());
}

void Server::Accept() {
    const int fd = accept(listener_, nullptr, nullptr);
    if (fd < 0) {
        return;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    pending_.push_back(fd);
}

// An operation request on a fresh connection: the device list (then closed) or an import (then
// the connection carries that device's URBs).
void Server::OnOperation(int fd) {
    std::uint8_t head[usbip::kOpHeaderSize];
    if (!ReadAll(fd, head, sizeof head)) {
        close(fd);
        return;
    }
    const std::uint16_t code = usbip::GetBe16(head, 2);
    std::vector<std::uint8_t> reply(usbip::kOpHeaderSize, 0);
    usbip::PutBe16(reply.data(), 0, usbip::kVersion);
    if (code == usbip::kOpReqDevlist) {
        usbip::PutBe16(reply.data(), 2, usbip::kOpRepDevlist);
        std::vector<std::uint8_t> records;
        std::uint32_t count = 0;
        for (const auto& [letter, device] : devices_) {
            if (device->leaving || device->fd >= 0) {
                continue;  // only devices free to import are listed
            }
            std::uint8_t record[usbip::kDevRecordSize + usbip::kInterfaceRecordSize];
            device->Record(record);
            record[usbip::kDevRecordSize] = 8;  // mass storage, SCSI, bulk-only
            record[usbip::kDevRecordSize + 1] = 6;
            record[usbip::kDevRecordSize + 2] = 0x50;
            record[usbip::kDevRecordSize + 3] = 0;
            records.insert(records.end(), record, record + sizeof record);
            ++count;
        }
        reply.resize(reply.size() + 4);
        usbip::PutBe32(reply.data(), usbip::kOpHeaderSize, count);
        reply.insert(reply.end(), records.begin(), records.end());
        WriteAll(fd, reply.data(), reply.size());
        close(fd);
        return;
    }
    if (code == usbip::kOpReqImport) {
        std::uint8_t busid[usbip::kBusIdSize];
        if (!ReadAll(fd, busid, sizeof busid)) {
            close(fd);
            return;
        }
        const std::string wanted = usbip::GetText(busid, 0, sizeof busid);
        usbip::PutBe16(reply.data(), 2, usbip::kOpRepImport);
        Device* chosen = nullptr;
        for (auto& [letter, device] : devices_) {
            if (device->busid == wanted && !device->leaving && device->fd < 0) {
                chosen = device.get();
            }
        }
        if (chosen == nullptr) {
            usbip::PutBe32(reply.data(), 4, 1);  // error: no such device, or busy
            WriteAll(fd, reply.data(), reply.size());
            close(fd);
            Log("import " + wanted + " refused");
            return;
        }
        reply.resize(reply.size() + usbip::kDevRecordSize);
        chosen->Record(reply.data() + usbip::kOpHeaderSize);
        if (!WriteAll(fd, reply.data(), reply.size())) {
            close(fd);
            return;
        }
        chosen->fd = fd;
        chosen->importedAt = std::chrono::steady_clock::now();
        chosen->transport->Reset();
        Log("import " + wanted + " devid " + std::to_string(chosen->DevId()));
        WriteState();
        return;
    }
    Log("unknown operation " + std::to_string(code));
    close(fd);
}

bool Server::Reply(Device& device, const std::uint8_t* command, std::int32_t status,
                   const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> reply(usbip::kUrbHeaderSize, 0);
    usbip::PutBe32(reply.data(), usbip::kCommand, usbip::kRetSubmit);
    usbip::PutBe32(reply.data(), usbip::kSeqNum, usbip::GetBe32(command, usbip::kSeqNum));
    usbip::PutBe32(reply.data(), usbip::kStatus, static_cast<std::uint32_t>(status));
    usbip::PutBe32(reply.data(), usbip::kActualLength, static_cast<std::uint32_t>(data.size()));
    if (usbip::GetBe32(command, usbip::kDirection) == usbip::kDirIn) {
        reply.insert(reply.end(), data.begin(), data.end());
    }
    return WriteAll(device.fd, reply.data(), reply.size());
}

void Server::OnUrb(Device& device) {
    std::uint8_t command[usbip::kUrbHeaderSize];
    if (!ReadAll(device.fd, command, sizeof command)) {
        Log("connection of " + device.busid + " closed by the host");
        close(device.fd);
        device.fd = -1;
        device.hang.reset();
        device.held.clear();
        device.transport->Reset();
        WriteState();
        return;
    }
    const std::uint32_t kind = usbip::GetBe32(command, usbip::kCommand);
    if (kind == usbip::kCmdUnlink) {
        OnUnlink(device, command);
        return;
    }
    if (kind != usbip::kCmdSubmit) {
        Log("unknown URB command " + std::to_string(kind) + " from " + device.busid);
        Unplug(device);
        return;
    }
    const std::uint32_t direction = usbip::GetBe32(command, usbip::kDirection);
    const std::uint32_t ep = usbip::GetBe32(command, usbip::kEp);
    const std::uint32_t length = usbip::GetBe32(command, usbip::kTransferBufferLength);
    if (length > (1u << 20)) {
        Unplug(device);
        return;
    }
    std::vector<std::uint8_t> out;
    if (direction == usbip::kDirOut && length > 0) {
        out.resize(length);
        if (!ReadAll(device.fd, out.data(), out.size())) {
            Unplug(device);
            return;
        }
    }
    std::vector<std::uint8_t> data;
    std::int32_t status = 0;
    if (ep == 0) {
        if (!device.Control(command + usbip::kSetup, data)) {
            status = -EPIPE;
        }
        if (direction == usbip::kDirOut) {
            data.assign(out.size(), 0);  // actual length of what was taken
        }
    } else if (ep == (kBulkIn & 0x0F) && direction == usbip::kDirIn) {
        if (device.hang) {
            // Held back until the hang is over (Tick) or the host gives up on it (OnUnlink).
            std::array<std::uint8_t, usbip::kUrbHeaderSize> header;
            std::copy_n(command, header.size(), header.begin());
            device.held.push_back(header);
            return;
        }
        if (!AnswerBulkIn(device, command)) {
            Unplug(device);
        }
        return;
    } else if (ep == kBulkOut && direction == usbip::kDirOut) {
        const usbcam::UrbAnswer answer = device.transport->BulkOut(out.data(), out.size());
        status = answer.status;
        data.assign(status == 0 ? out.size() : 0, 0);
        bool answerCommand = true;
        TakeDrawn(device, answerCommand);
        if (!answerCommand) {
            return;
        }
    } else {
        status = -EPIPE;
    }
    if (!Reply(device, command, status, data)) {
        Unplug(device);
    }
}

bool Server::AnswerBulkIn(Device& device, const std::uint8_t* command) {
    const std::uint32_t flags = usbip::GetBe32(command, usbip::kTransferFlags);
    const std::uint32_t length = usbip::GetBe32(command, usbip::kTransferBufferLength);
    usbcam::UrbAnswer answer =
        device.transport->BulkIn(length, (flags & usbip::kUrbShortNotOk) != 0);
    return Reply(device, command, answer.status, answer.data);
}

namespace {

long long MillisecondsBetween(std::chrono::steady_clock::time_point from,
                              std::chrono::steady_clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

std::string ActionName(const sim::HostileAction& action) {
    return "Hostile " + std::string(1, action.letter) +
           ": request=" + std::to_string(action.request);
}

// How long a storm's device stays once imported, and how long it is away before it comes back:
// from a fifth of a second to three seconds, drawn from the action, so that some storms end
// before the kernel has set the device up and some after.
constexpr std::uint32_t kStormGapMs = 200;
std::uint32_t StormStayMs(std::uint64_t noise, std::uint32_t left) {
    sim::SplitMix64 random(noise + left);
    return 200 + random.Below(2800);
}

}  // namespace

// The command just taken (its CBW) may have drawn an action for the bus.
void Server::TakeDrawn(Device& device, bool& answerCommand) {
    if (!device.drawn) {
        return;
    }
    const sim::HostileAction action = *device.drawn;
    device.drawn.reset();
    const auto now = std::chrono::steady_clock::now();
    switch (action.kind) {
        case sim::HostileKind::kHang:
            device.hang = action;
            device.hangStart = now;
            device.hangEnd = now + std::chrono::milliseconds(action.hangMs);
            return;
        case sim::HostileKind::kUnplug:
        case sim::HostileKind::kStorm: {
            // The command block's URB stays unanswered: the device leaves under it.
            answerCommand = false;
            Absence& absence = away_[device.letter];
            absence.back = now + std::chrono::milliseconds(action.replugMs);
            absence.stormLeft = action.stormPlugs;
            absence.noise = action.noise;
            absence.request = action.request;
            Log(ActionName(action) + " outcome=unplugged");
            device.leaving = true;
            Unplug(device);
            return;
        }
        default:
            return;
    }
}

void Server::OnUnlink(Device& device, const std::uint8_t* command) {
    const std::uint32_t target = usbip::GetBe32(command, usbip::kUnlinkSeqNum);
    std::int32_t status = 0;  // answered already: nothing to unlink
    const auto held = std::find_if(device.held.begin(), device.held.end(), [target](const auto& h) {
        return usbip::GetBe32(h.data(), usbip::kSeqNum) == target;
    });
    if (held != device.held.end()) {
        // The host gave up on a URB held back by a hang: it gets no answer, and the command is
        // abandoned (the host resets the device next).
        status = -ECONNRESET;
        device.held.erase(held);
        if (device.hang) {
            Log(ActionName(*device.hang) + " outcome=unlinked after=" +
                std::to_string(
                    MillisecondsBetween(device.hangStart, std::chrono::steady_clock::now())));
            device.hang.reset();
            device.held.clear();
            device.transport->Reset();
        }
    }
    {
        std::uint8_t reply[usbip::kUrbHeaderSize] = {};
        usbip::PutBe32(reply, usbip::kCommand, usbip::kRetUnlink);
        usbip::PutBe32(reply, usbip::kSeqNum, usbip::GetBe32(command, usbip::kSeqNum));
        usbip::PutBe32(reply, usbip::kUnlinkStatus, static_cast<std::uint32_t>(status));
        WriteAll(device.fd, reply, sizeof reply);
    }
}

bool Server::Away(char letter) const {
    const auto found = away_.find(letter);
    return found != away_.end() && std::chrono::steady_clock::now() < found->second.back;
}

bool Server::Tick() {
    const auto now = std::chrono::steady_clock::now();
    bool changed = false;
    for (auto& [letter, device] : devices_) {
        if (device->hang && now >= device->hangEnd && device->fd >= 0) {
            const sim::HostileAction action = *device->hang;
            device->hang.reset();
            Log(ActionName(action) + " outcome=answered after=" +
                std::to_string(MillisecondsBetween(device->hangStart, now)));
            const auto held = std::move(device->held);
            device->held.clear();
            for (const auto& header : held) {
                if (!AnswerBulkIn(*device, header.data())) {
                    Unplug(*device);
                    break;
                }
            }
        }
    }
    for (auto it = away_.begin(); it != away_.end();) {
        const char letter = it->first;
        Absence& absence = it->second;
        if (now < absence.back) {
            ++it;
            continue;
        }
        const auto found = devices_.find(letter);
        if (found == devices_.end()) {
            // Back: exported again by Reconcile.
            Log("away " + std::string(1, letter) + ": back, storm plugs left " +
                std::to_string(absence.stormLeft));
            changed = true;
            if (absence.stormLeft == 0) {
                it = away_.erase(it);
                continue;
            }
            ++it;
            continue;
        }
        Device& device = *found->second;
        if (absence.stormLeft > 0 && device.fd >= 0 &&
            MillisecondsBetween(device.importedAt, now) >=
                StormStayMs(absence.noise, absence.stormLeft)) {
            // The storm takes it away again.
            Log("away " + std::string(1, letter) + ": the storm takes it again, plugs left " +
                std::to_string(absence.stormLeft - 1));
            --absence.stormLeft;
            absence.back = now + std::chrono::milliseconds(kStormGapMs);
            device.leaving = true;
            device.hang.reset();
            device.held.clear();
            Unplug(device);
            changed = true;
        }
        ++it;
    }
    return changed;
}

int Server::NextDueMs(int idle) const {
    const auto now = std::chrono::steady_clock::now();
    long long due = idle;
    for (const auto& [letter, device] : devices_) {
        if (device->hang) {
            due = std::min(due, MillisecondsBetween(now, device->hangEnd));
        }
    }
    for (const auto& [letter, absence] : away_) {
        due = std::min(due, MillisecondsBetween(now, absence.back));
        if (absence.stormLeft > 0) {
            due = std::min<long long>(due, 20);  // a storm's stay is looked at often
        }
    }
    return static_cast<int>(std::clamp<long long>(due, 1, idle));
}

int Server::Run() {
    signal(SIGTERM, OnSignal);
    signal(SIGINT, OnSignal);
    signal(SIGPIPE, SIG_IGN);
    if (!LoadWorld(true)) {
        return 2;
    }
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(options_.port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 16) != 0) {
        Log("cannot listen on 127.0.0.1:" + std::to_string(options_.port) + ": " +
            std::strerror(errno));
        return 2;
    }
    Log("listening on 127.0.0.1:" + std::to_string(options_.port));

    while (g_stop == 0) {
        std::vector<pollfd> fds;
        fds.push_back({listener_, POLLIN, 0});
        for (const int fd : pending_) {
            fds.push_back({fd, POLLIN, 0});
        }
        std::vector<char> letters;
        for (const auto& [letter, device] : devices_) {
            if (device->fd >= 0) {
                fds.push_back({device->fd, POLLIN, 0});
                letters.push_back(letter);
            }
        }
        const int ready = poll(fds.data(), fds.size(), NextDueMs(100));
        if (ready < 0 && errno != EINTR) {
            Log(std::string("poll: ") + std::strerror(errno));
            break;
        }
        if (ready > 0) {
            std::size_t at = 1;
            std::vector<int> operations;
            for (std::size_t i = 0; i < pending_.size(); ++i, ++at) {
                if (fds[at].revents != 0) {
                    operations.push_back(pending_[i]);
                }
            }
            std::vector<char> urbs;
            for (const char letter : letters) {
                if (fds[at++].revents != 0) {
                    urbs.push_back(letter);
                }
            }
            for (const int fd : operations) {
                std::erase(pending_, fd);
                OnOperation(fd);
            }
            bool commanded = false;
            for (const char letter : urbs) {
                const auto found = devices_.find(letter);
                if (found != devices_.end() && found->second->fd >= 0) {
                    OnUrb(*found->second);
                    commanded = true;
                }
            }
            if (fds[0].revents != 0) {
                Accept();
            }
            if (commanded) {
                // A command may have moved the camera (release) or finished a leaving device.
                Reconcile();
            }
        }
        if (Tick()) {
            Reconcile();
        }
        LoadWorld(false);
    }
    for (auto& [letter, device] : devices_) {
        Unplug(*device);
    }
    for (const int fd : pending_) {
        close(fd);
    }
    close(listener_);
    Log("stopped");
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: zq-usbip-camera --world FILE [--port N] [--bus N] [--state FILE]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            return Usage();
        }
        const std::string value = argv[++i];
        if (arg == "--world") {
            options.world = value;
        } else if (arg == "--port") {
            options.port = std::atoi(value.c_str());
        } else if (arg == "--bus") {
            options.bus = static_cast<std::uint32_t>(std::atoi(value.c_str()));
        } else if (arg == "--state") {
            options.state = value;
        } else {
            return Usage();
        }
    }
    if (options.world.empty() || options.port <= 0 || options.port > 65535 || options.bus == 0 ||
        options.bus > 127) {
        return Usage();
    }
    return Server(options).Run();
}
