// Whole messages on a USB/IP connection, for both ends of it in the guest fixture: the camera's
// server (usbip_camera.cpp) and the client that attaches its devices (usbip_attach.cpp).
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace usbip {

// Reads exactly `count` bytes; false when the connection ends or fails first.
inline bool ReadAll(int fd, std::uint8_t* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = read(fd, bytes + done, count - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// Sends all `count` bytes (never raising SIGPIPE); false when the connection fails first.
inline bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t put = send(fd, bytes + done, count - done, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

}  // namespace usbip
