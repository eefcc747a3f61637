# Cross-building tvflash.exe for 64-bit Windows on a Debian machine with mingw-w64.
# The posix-threads flavour of the compiler is the one whose C++ library has std::thread.
# Programs built here run on this machine under Wine (see CMAKE_CROSSCOMPILING_EMULATOR).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TVFLASH_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TVFLASH_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TVFLASH_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TVFLASH_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TVFLASH_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs of this build run under Wine; WINEDEBUG=-all keeps Wine's own notes off their
# standard error.
find_program(TVFLASH_WINE wine)
if(TVFLASH_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env WINEDEBUG=-all ${TVFLASH_WINE})
endif()
