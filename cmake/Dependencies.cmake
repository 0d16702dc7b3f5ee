# Every dependency comes from Debian 12's packages (scripts/setup.sh installs them); the
# Windows build takes FFmpeg and x264 from scripts/windows-deps.sh's cross-built cache.
if(WIN32)
  include(cmake/WindowsDependencies.cmake)
  return()
endif()
find_package(Qt6 REQUIRED COMPONENTS Widgets)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavcodec libavformat libavfilter libavutil libswscale)
if(REFRAME_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(REFRAME_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
# Qt's lower-case keyword macros (slots, signals, emit) would clash with our own names, such as
# the stream slots of an AVI file record.
add_compile_definitions(QT_NO_KEYWORDS)
