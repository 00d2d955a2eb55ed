# Cross build for Windows x86-64 with mingw-w64 (POSIX thread model, so that std::thread and
# std::mutex exist). Test executables run under Wine through the emulator below.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KS_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KS_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KS_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KS_MINGW_PREFIX}-windres)

# Libraries built for mingw-w64 outside Debian's packages (zstd: scripts/build-mingw-zstd.sh).
set(KS_MINGW_DEPS_PREFIX /usr/local/${KS_MINGW_PREFIX}
    CACHE PATH "Prefix of the libraries built for mingw-w64 from Debian's sources")
set(CMAKE_FIND_ROOT_PATH /usr/${KS_MINGW_PREFIX} ${KS_MINGW_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

get_filename_component(KS_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${KS_SOURCE_ROOT}/scripts/wine-run.sh")
