// zq-usbip-attach: the client half of USB/IP for the guest, in place of the usbip tool.
//
//   zq-usbip-attach --port N [--port N...] [--follow] [--wait SECONDS]
//   zq-usbip-attach --detach-all
//
// For each server on 127.0.0.1:N it asks for the device list and imports every device that is
// not attached yet (its bus and device number not on a port of vhci-hcd): an import request on a
// new connection, then "port socket devid speed" written to vhci-hcd's attach file, after which
// the kernel owns the connection. --follow keeps doing so ten times a second until it is told to
// stop (SIGTERM), so that a device the server plugs in later is attached as a USB host would
// see it arrive. --wait retries a server that does not answer yet for that long.
// --detach-all writes every port in use to vhci-hcd's detach file.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "guest/usbip_io.h"
#include "guest/usbip_wire.h"

namespace {

const char kVhci[] = "/sys/devices/platform/vhci_hcd.0";

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

using usbip::ReadAll;
using usbip::WriteAll;

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

struct Port {
    int number = 0;
    bool highSpeedHub = false;
    bool free = false;
    std::uint32_t devid = 0;
};

// vhci-hcd's status file: "hub port sta spd dev sockfd local_busid", one port a line.
std::vector<Port> ReadPorts() {
    std::vector<Port> ports;
    std::ifstream status(std::string(kVhci) + "/status");
    std::string line;
    std::getline(status, line);  // heading
    while (std::getline(status, line)) {
        std::istringstream fields(line);
        std::string hub, port, sta, spd, dev;
        if (!(fields >> hub >> port >> sta >> spd >> dev)) {
            continue;
        }
        Port entry;
        entry.number = std::atoi(port.c_str());
        entry.highSpeedHub = hub == "hs";
        entry.free = std::atoi(sta.c_str()) == 4;  // VDEV_ST_NULL
        entry.devid = static_cast<std::uint32_t>(std::strtoul(dev.c_str(), nullptr, 16));
        ports.push_back(entry);
    }
    return ports;
}

bool WriteSysfs(const std::string& file, const std::string& text) {
    const int fd = ::open((std::string(kVhci) + "/" + file).c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

struct Exported {
    std::string busid;
    std::uint32_t devid = 0;
    std::uint32_t speed = 0;
};

// The server's device list; false when the server cannot be reached.
bool DeviceList(int port, std::vector<Exported>& devices) {
    const int fd = Connect(port);
    if (fd < 0) {
        return false;
    }
    std::uint8_t request[usbip::kOpHeaderSize] = {};
    usbip::PutBe16(request, 0, usbip::kVersion);
    usbip::PutBe16(request, 2, usbip::kOpReqDevlist);
    std::uint8_t head[usbip::kOpHeaderSize + 4];
    bool ok = WriteAll(fd, request, sizeof request) && ReadAll(fd, head, sizeof head) &&
              usbip::GetBe16(head, 2) == usbip::kOpRepDevlist && usbip::GetBe32(head, 4) == 0;
    const std::uint32_t count = ok ? usbip::GetBe32(head, usbip::kOpHeaderSize) : 0;
    for (std::uint32_t i = 0; ok && i < count; ++i) {
        std::uint8_t record[usbip::kDevRecordSize];
        ok = ReadAll(fd, record, sizeof record);
        if (!ok) {
            break;
        }
        const std::size_t interfaces = record[usbip::kDevNumInterfaces];
        std::vector<std::uint8_t> skip(interfaces * usbip::kInterfaceRecordSize);
        ok = skip.empty() || ReadAll(fd, skip.data(), skip.size());
        Exported device;
        device.busid = usbip::GetText(record, usbip::kDevBusId, usbip::kBusIdSize);
        device.devid = (usbip::GetBe32(record, usbip::kDevBusNum) << 16) |
                       usbip::GetBe32(record, usbip::kDevDevNum);
        device.speed = usbip::GetBe32(record, usbip::kDevSpeed);
        devices.push_back(device);
    }
    close(fd);
    return ok;
}

// Imports one device and hands its connection to vhci-hcd.
bool Attach(int serverPort, const Exported& device) {
    int vhciPort = -1;
    for (const Port& port : ReadPorts()) {
        if (port.free && port.highSpeedHub == (device.speed != 5)) {  // 5: SuperSpeed
            vhciPort = port.number;
            break;
        }
    }
    if (vhciPort < 0) {
        std::fprintf(stderr, "usbip-attach: no free vhci port for %s\n", device.busid.c_str());
        return false;
    }
    const int fd = Connect(serverPort);
    if (fd < 0) {
        return false;
    }
    std::uint8_t request[usbip::kOpHeaderSize + usbip::kBusIdSize] = {};
    usbip::PutBe16(request, 0, usbip::kVersion);
    usbip::PutBe16(request, 2, usbip::kOpReqImport);
    std::memcpy(request + usbip::kOpHeaderSize, device.busid.data(),
                std::min(device.busid.size(), usbip::kBusIdSize - 1));
    std::uint8_t reply[usbip::kOpHeaderSize + usbip::kDevRecordSize];
    if (!WriteAll(fd, request, sizeof request) || !ReadAll(fd, reply, usbip::kOpHeaderSize) ||
        usbip::GetBe16(reply, 2) != usbip::kOpRepImport || usbip::GetBe32(reply, 4) != 0 ||
        !ReadAll(fd, reply + usbip::kOpHeaderSize, usbip::kDevRecordSize)) {
        std::fprintf(stderr, "usbip-attach: import of %s refused\n", device.busid.c_str());
        close(fd);
        return false;
    }
    const std::uint8_t* record = reply + usbip::kOpHeaderSize;
    const std::uint32_t devid = (usbip::GetBe32(record, usbip::kDevBusNum) << 16) |
                                usbip::GetBe32(record, usbip::kDevDevNum);
    const std::uint32_t speed = usbip::GetBe32(record, usbip::kDevSpeed);
    const std::string line = std::to_string(vhciPort) + " " + std::to_string(fd) + " " +
                             std::to_string(devid) + " " + std::to_string(speed);
    const bool ok = WriteSysfs("attach", line);
    if (!ok) {
        std::fprintf(stderr, "usbip-attach: vhci attach \"%s\": %s\n", line.c_str(),
                     std::strerror(errno));
    } else {
        std::fprintf(stderr, "usbip-attach: %s (devid %u) on port %d\n", device.busid.c_str(),
                     devid, vhciPort);
    }
    close(fd);  // the kernel holds its own reference now
    return ok;
}

// One pass over every server: attaches what is not attached yet. `reached` counts the servers
// that answered.
bool AttachPass(const std::vector<int>& ports, std::size_t& reached) {
    bool ok = true;
    reached = 0;
    for (const int port : ports) {
        std::vector<Exported> devices;
        if (!DeviceList(port, devices)) {
            continue;
        }
        ++reached;
        std::set<std::uint32_t> attached;
        for (const Port& vhci : ReadPorts()) {
            if (!vhci.free) {
                attached.insert(vhci.devid);
            }
        }
        for (const Exported& device : devices) {
            if (attached.count(device.devid) == 0) {
                ok = Attach(port, device) && ok;
            }
        }
    }
    return ok;
}

int DetachAll() {
    int failures = 0;
    for (const Port& port : ReadPorts()) {
        if (!port.free && !WriteSysfs("detach", std::to_string(port.number))) {
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

void Pause(long milliseconds) {
    timespec pause = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: zq-usbip-attach --port N [--port N...] [--follow] [--wait SECONDS]\n"
                 "       zq-usbip-attach --detach-all\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> ports;
    bool follow = false;
    bool detach = false;
    double wait = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--follow") {
            follow = true;
        } else if (arg == "--detach-all") {
            detach = true;
        } else if ((arg == "--port" || arg == "--wait") && i + 1 < argc) {
            const char* value = argv[++i];
            if (arg == "--port") {
                ports.push_back(std::atoi(value));
            } else {
                wait = std::atof(value);
            }
        } else {
            return Usage();
        }
    }
    if (detach) {
        return DetachAll();
    }
    if (ports.empty()) {
        return Usage();
    }
    signal(SIGTERM, OnSignal);
    signal(SIGINT, OnSignal);
    signal(SIGPIPE, SIG_IGN);
    if (follow) {
        while (g_stop == 0) {
            std::size_t reached = 0;
            AttachPass(ports, reached);
            Pause(100);
        }
        return 0;
    }
    const long tries = 1 + static_cast<long>(wait * 10);
    for (long attempt = 0; attempt < tries; ++attempt) {
        std::size_t reached = 0;
        const bool ok = AttachPass(ports, reached);
        if (reached == ports.size()) {
            return ok ? 0 : 1;
        }
        Pause(100);
    }
    std::fprintf(stderr, "usbip-attach: a server did not answer\n");
    return 1;
}
