// zq-sg-probe: what the tool's Linux backend makes of each SCSI generic node, one line a node.
//
//   /dev/sg0 camera vendor="KMZ" model="DV CAMERA" disk=sda usb=1-1 serial=ZQE-1-2
//   /dev/sg1 other vendor="ZQSIM" model="SIMULATED DISK" disk=sdb usb=1-2 serial=ZQG-1-3
//   /dev/sg2 unopened vendor="KMZ" model="DV CAMERA" ...
//   zq-sg-probe: permission denied on /dev/sg2 (owner root, group root, mode 0600): ...
//
// The camera is judged by the tool's own rule (cli::LinuxBackend::ProbeDevice): the node's
// identity comes from sysfs, its INQUIRY goes through SG_IO. Exit status: 0 when a camera
// answered, 1 when none did, 3 when none did and a node could not be opened (its reason on
// standard error). For looking at a machine or a guest by hand, and as the command of the guest's
// command scenarios.
#include <cstdio>
#include <string>

#include "cli/backend_linux.h"
#include "cli/sense.h"
#include "os/linux/scsi_generic.h"

int main() {
    cli::LinuxBackend backend;
    bool camera = false;
    bool refused = false;
    for (const sg::Node& node : sg::ListNodes()) {
        cli::Probe probe = backend.ProbeDevice(node.path);
        const bool unopened = probe.result == cli::ProbeResult::kOpenFailed ||
                              probe.result == cli::ProbeResult::kAbsent;
        const char* kind = unopened                                    ? "unopened"
                           : probe.result == cli::ProbeResult::kCamera ? "camera"
                                                                       : "other";
        std::printf("%s %s vendor=\"%s\" model=\"%s\" disk=%s usb=%s serial=%s\n",
                    node.path.c_str(), kind, node.vendor.c_str(), node.model.c_str(),
                    node.blockDevice.empty() ? "-" : node.blockDevice.c_str(),
                    node.usbDevice.empty() ? "-" : node.usbDevice.c_str(),
                    node.usbSerial.empty() ? "-" : node.usbSerial.c_str());
        if (unopened) {
            std::fprintf(stderr, "zq-sg-probe: %s\n", probe.systemText.c_str());
            refused = true;
        } else if (probe.result == cli::ProbeResult::kInquiryFailed || !probe.inquiry.Good()) {
            std::fprintf(stderr, "zq-sg-probe: %s: INQUIRY %s\n", node.path.c_str(),
                         cli::DescribeOutcome(probe.inquiry, kInquiryLength).c_str());
        }
        if (probe.result == cli::ProbeResult::kCamera) {
            camera = true;
            backend.Close(probe.id);
        }
    }
    if (camera) {
        return 0;
    }
    return refused ? 3 : 1;
}
