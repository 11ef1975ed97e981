# What both mingw-w64 cross builds share, once ZQ_MINGW_PREFIX names the toolchain: the posix
# threading model's compilers where installed, windres, strip, and the target's own root.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_C_COMPILER NAMES ${ZQ_MINGW_PREFIX}-gcc-posix ${ZQ_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ZQ_MINGW_PREFIX}-g++-posix ${ZQ_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZQ_MINGW_PREFIX}-windres REQUIRED)
find_program(CMAKE_STRIP NAMES ${ZQ_MINGW_PREFIX}-strip)

set(CMAKE_FIND_ROOT_PATH /usr/${ZQ_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
