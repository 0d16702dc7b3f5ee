# The Windows build's dependencies: static FFmpeg and x264 cross-built by
# scripts/windows-deps.sh (REFRAME_WINDOWS_DEPS names its prefix), zlib from mingw-w64, and
# GoogleTest built from Debian's own copy of its sources. Every program links statically, so
# it needs nothing but Windows' own DLLs.
set(REFRAME_WINDOWS_DEPS "" CACHE PATH "Prefix of the cross-built FFmpeg and x264")
if(NOT EXISTS "${REFRAME_WINDOWS_DEPS}/lib/pkgconfig/libavcodec.pc")
  message(FATAL_ERROR "REFRAME_WINDOWS_DEPS must name the prefix that scripts/windows-deps.sh "
                      "printed (no libavcodec.pc under '${REFRAME_WINDOWS_DEPS}')")
endif()

find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
# Only the cross-built .pc files, never the Linux system's.
set(ENV{PKG_CONFIG_LIBDIR} "${REFRAME_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
pkg_check_modules(FFMPEG REQUIRED libavcodec libavformat libavfilter libavutil libswscale)
# Static linking needs the libraries' own dependencies too (x264, zlib, bcrypt, ...): the
# "static" flags carry them. The target keeps the Linux build's name so that no folder's
# CMakeLists.txt has to know which platform it is built for.
add_library(PkgConfig::FFMPEG INTERFACE IMPORTED)
set_target_properties(PkgConfig::FFMPEG PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${FFMPEG_STATIC_INCLUDE_DIRS}"
  INTERFACE_LINK_LIBRARIES "${FFMPEG_STATIC_LDFLAGS}")

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
add_link_options(-static $<$<CONFIG:Release>:-s>)
enable_language(RC)

if(REFRAME_BUILD_TESTS)
  set(REFRAME_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${REFRAME_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest's own build names its targets GTest::gtest, GTest::gtest_main and so on, as
  # find_package(GTest) does on Linux.
  include(GoogleTest)
  # Tests run under Wine, in a Wine prefix of this build's own (made once by
  # scripts/build-windows.sh before any test runs, as parallel first starts would race).
  set(REFRAME_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  configure_file(${PROJECT_SOURCE_DIR}/tests/windows/wine_run.sh.in ${CMAKE_BINARY_DIR}/wine_run.sh
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                 GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine_run.sh)
endif()
