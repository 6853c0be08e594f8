# Cross build for Windows x86-64 with Debian's MinGW-w64 (posix threads),
# tested under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_ASM_COMPILER ${_triple}-gcc-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The plug-in and the test programs carry the compiler's runtime inside them,
# so that the plug-in needs nothing beside the renderer and Wine needs no
# MinGW DLLs on its path.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under 64-bit Wine, quietly, in a prefix of the build's
# own, so that no state of another build or of the user leaks in.
find_program(BENDLENS_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT BENDLENS_WINE)
  find_program(BENDLENS_WINE NAMES wine64 wine)
endif()
if(BENDLENS_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env WINEDEBUG=-all
      WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix ${BENDLENS_WINE})
endif()
