# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads, so
# that std::thread and std::mutex work), linked statically: the .exe files
# need no MinGW runtime DLLs next to them. Tests run under Wine through
# cmake/wine-run, which CTest uses as the emulator.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_SYSTEM_VERSION 10.0)

set(_tessel_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_tessel_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_tessel_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_tessel_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_tessel_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Windows 7 and later: the socket and ICMP functions the platform layer uses.
# The thread-safe time functions (localtime_r, gmtime_r) of the POSIX
# code, which MinGW-w64 declares on request.
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0601 -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_POSIX_THREAD_SAFE_FUNCTIONS=200112L")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
