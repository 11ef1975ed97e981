// The devices half of the seam, carried out by the simulated world (sim::TheWorld()).
#include "os/os.h"
#include "sim/world.h"

namespace os {

Handle CreateFileW(const wchar_t* path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                   std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) {
    return sim::TheWorld().CreateFileW(path, desiredAccess, shareMode, creationDisposition,
                                       flagsAndAttributes);
}

bool DeviceIoControl(Handle handle, std::uint32_t ioControlCode, const void* inBuffer,
                     std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                     std::uint32_t* bytesReturned) {
    return sim::TheWorld().DeviceIoControl(handle, ioControlCode, inBuffer, inBufferSize, outBuffer,
                                           outBufferSize, bytesReturned);
}

bool CloseHandle(Handle handle) {
    return sim::TheWorld().CloseHandle(handle);
}

std::uint32_t GetLastError() {
    return sim::TheWorld().GetLastError();
}

std::uint32_t GetLogicalDriveStringsW(std::uint32_t bufferLength, wchar_t* buffer) {
    return sim::TheWorld().GetLogicalDriveStringsW(bufferLength, buffer);
}

std::uint32_t GetDriveTypeW(const wchar_t* rootPath) {
    return sim::TheWorld().GetDriveTypeW(rootPath);
}

bool ShellExecuteW(const wchar_t* operation, const wchar_t* file, const wchar_t* parameters,
                   const wchar_t* directory, int showCommand) {
    return sim::TheWorld().ShellExecuteW(operation, file, parameters, directory, showCommand);
}

}  // namespace os
