// The system's error texts, for the programs that show them (the command-line tool); kept apart
// from the rest of the system half so that a program that never shows one does not carry it.
#include <windows.h>

#include "os/os.h"

namespace os {

std::uint32_t FormatMessageW(std::uint32_t messageId, wchar_t* buffer, std::uint32_t size) {
    return ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                            messageId, 0, buffer, size, nullptr);
}

}  // namespace os
