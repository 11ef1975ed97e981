# Cross build of the 32-bit Windows program with mingw-w64 (posix threading model).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZQ_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
