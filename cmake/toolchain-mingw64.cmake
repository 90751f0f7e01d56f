# The cross compiler for the Windows build (preset windows, scripts/windows.sh):
# Debian's MinGW-w64 for x86-64 with POSIX threads (package
# g++-mingw-w64-x86-64-posix), whose std::thread and std::mutex the engine
# uses as on Linux. The compiler names end in "-posix", which CMake cannot
# split into a prefix, so every binutils program is named here too.
#
# Threads: the main thread only (configure time).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SPROX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SPROX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SPROX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SPROX_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${SPROX_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${SPROX_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP ${SPROX_MINGW_TRIPLE}-strip CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${SPROX_MINGW_TRIPLE}-objdump CACHE FILEPATH "")

# Headers and libraries come from the cross environment only; the programs
# the build runs (none in the engine-only build) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${SPROX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
