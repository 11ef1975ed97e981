// zq-sg-probe: what the Linux device layer sees, one line per SCSI generic node.
//
//   /dev/sg0 camera vendor="KMZ" model="DV CAMERA" disk=sda usb=1-1 serial=ZQE-1-2
//   /dev/sg1 other vendor="ZQSIM" model="SIMULATED DISK" disk=sdb usb=1-2 serial=ZQG-1-3
//   /dev/sg2 unopened vendor="KMZ" model="DV CAMERA" ...
//   zq-sg-probe: permission denied on /dev/sg2 (owner root, group root, mode 0600): ...
//
// Exit status: 0 when a camera answered, 1 when none did, 3 when none did and a node could not
// be opened (its reason on standard error). For looking at a machine or a guest by hand, and as
// the command of the guest's command scenarios.
#include <cstdio>

#include "os/linux/scsi_generic.h"

int main() {
    bool camera = false;
    bool refused = false;
    for (const sg::Candidate& candidate : sg::Discover()) {
        const sg::Node& node = candidate.node;
        const char* kind = !candidate.open.message.empty() ? "unopened"
                           : candidate.camera              ? "camera"
                                                           : "other";
        std::printf("%s %s vendor=\"%s\" model=\"%s\" disk=%s usb=%s serial=%s\n",
                    node.path.c_str(), kind, node.vendor.c_str(), node.model.c_str(),
                    node.blockDevice.empty() ? "-" : node.blockDevice.c_str(),
                    node.usbDevice.empty() ? "-" : node.usbDevice.c_str(),
                    node.usbSerial.empty() ? "-" : node.usbSerial.c_str());
        if (!candidate.open.message.empty()) {
            std::fprintf(stderr, "zq-sg-probe: %s\n", candidate.open.message.c_str());
            refused = true;
        } else if (!candidate.inquiry.Good()) {
            std::fprintf(stderr, "zq-sg-probe: %s: INQUIRY %s\n", node.path.c_str(),
                         candidate.inquiry.Describe().c_str());
        }
        camera = camera || candidate.camera;
    }
    if (camera) {
        return 0;
    }
    return refused ? 3 : 1;
}
