# Cross build for 64-bit Windows with Debian's mingw-w64 (POSIX thread model, so std::thread
# and GoogleTest's threading work). Tests run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SORELCHECK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SORELCHECK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SORELCHECK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SORELCHECK_MINGW_TRIPLE}-windres)

# Headers, libraries and packages come from the mingw tree only, never from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${SORELCHECK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained exe each: no libstdc++, libgcc or winpthread DLL to ship beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(SORELCHECK_WINE wine)
if(SORELCHECK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SORELCHECK_WINE})
endif()
