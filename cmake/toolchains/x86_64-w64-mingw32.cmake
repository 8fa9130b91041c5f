# Cross-builds for Windows x86_64 with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix, the
# POSIX thread model that std::thread needs). The C and C++ runtimes and winpthreads are linked
# statically, so a module built here imports only DLLs that every Windows system has.
set (CMAKE_SYSTEM_NAME Windows)
set (CMAKE_SYSTEM_PROCESSOR x86_64)

set (mingwTriplet x86_64-w64-mingw32)
set (CMAKE_C_COMPILER ${mingwTriplet}-gcc-posix)
set (CMAKE_CXX_COMPILER ${mingwTriplet}-g++-posix)
set (CMAKE_RC_COMPILER ${mingwTriplet}-windres)
set (CMAKE_AR ${mingwTriplet}-gcc-ar-posix CACHE FILEPATH "Archiver")
set (CMAKE_RANLIB ${mingwTriplet}-gcc-ranlib-posix CACHE FILEPATH "Archive indexer")

# Libraries and headers come from the MinGW sysroot and from prefixes the build names in
# CMAKE_PREFIX_PATH (the cross-built image libraries); programs from the build machine.
set (CMAKE_FIND_ROOT_PATH /usr/${mingwTriplet})
set (CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set (CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set (CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set (CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static makes the linker pick libwinpthread.a over its import library, as it does for the
# GCC and C++ runtimes.
set (CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set (CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set (CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Windows programs built here (the test host, try_run checks) run under wine.
get_filename_component (wineRun "${CMAKE_CURRENT_LIST_DIR}/../../tools/wine-run" ABSOLUTE)
set (CMAKE_CROSSCOMPILING_EMULATOR "${wineRun}")
