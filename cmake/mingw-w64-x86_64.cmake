# Cross-building the Windows programs on Debian with mingw-w64 (64-bit, posix threads: the
# win32 thread model has no std::mutex or std::thread).
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DREFRAME_WINDOWS_DEPS=<prefix printed by scripts/windows-deps.sh>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(REFRAME_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${REFRAME_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${REFRAME_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${REFRAME_MINGW_TRIPLET}-windres)

# Libraries and headers come from the mingw-w64 sysroot and the cross-built dependencies only,
# never from the Linux system.
set(CMAKE_FIND_ROOT_PATH /usr/${REFRAME_MINGW_TRIPLET} ${REFRAME_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
