# Cross build of the 64-bit Windows programs with mingw-w64 (posix threading model).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZQ_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
