// The byte work of the camera link that reaches no device: the transport's signature, the
// INQUIRY's and the camera's command blocks, the clock's bytes and the firmware pieces. Kept apart
// from the calls that send them, so that a program with a device path of its own (the Linux tool,
// over SG_IO) uses the same blocks without the operating-system seam.
#include <algorithm>

#include "link/camera.h"
#include "link/discovery.h"
#include "link/transport.h"
#include "os/bytes.h"

std::array<std::uint8_t, kInquiryCdbLength> InquiryCdb() {
    return {kOpInquiry, 0x00, 0x00, 0x00, kInquiryLength, 0x00};
}

void SignVendorBlock(std::span<std::uint8_t, kVendorBlockSize> block) {
    std::copy(kVendorSignatureBytes.begin(), kVendorSignatureBytes.end(),
              block.begin() + kVendorSignature);
}

VendorBlock MakeCameraBlock(CommandForm form, std::uint8_t code,
                            std::span<const std::uint8_t> args) {
    VendorBlock block = {};
    bytes::PutLe32(block.data(), kVendorForm,
                   form == CommandForm::kGet ? kVendorFormGet : kVendorFormSet);
    block[kVendorCode] = code;
    std::copy_n(args.begin(), std::min(args.size(), kVendorBlockSize - kVendorArgs),
                block.begin() + kVendorArgs);
    return block;
}

CameraDateTime CameraDateTimeFromLocalTime(const std::tm& local) {
    CameraDateTime dateTime{};
    dateTime.year = static_cast<std::uint8_t>(((local.tm_year + 1900) % 2000) & 0xFF);
    dateTime.month = static_cast<std::uint8_t>(local.tm_mon + 1);
    dateTime.day = static_cast<std::uint8_t>(local.tm_mday);
    dateTime.hour = static_cast<std::uint8_t>(local.tm_hour);
    dateTime.minute = static_cast<std::uint8_t>(local.tm_min);
    dateTime.second = static_cast<std::uint8_t>(local.tm_sec);
    return dateTime;
}

std::size_t FirmwarePieceLength(std::span<const std::uint8_t, kVendorAnswerSize> answer) {
    std::size_t length = 0;
    while (length < answer.size() && answer[length] != 0) {
        ++length;
    }
    return length;
}
