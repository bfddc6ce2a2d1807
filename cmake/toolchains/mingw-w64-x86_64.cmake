# Cross build for 64-bit Windows with MinGW-w64. The posix thread model is required: the win32
# flavour has no std::thread or std::mutex. The -posix compilers are named explicitly because
# the unsuffixed names follow whichever flavour the system's alternatives currently select.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAVRIN_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAVRIN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVRIN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVRIN_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${TAVRIN_MINGW_TRIPLE}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${TAVRIN_MINGW_TRIPLE}-ranlib CACHE FILEPATH "Archive indexer")

set(CMAKE_FIND_ROOT_PATH /usr/${TAVRIN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable: the C and C++ runtimes and winpthreads are linked in, so the
# program imports nothing but Windows' own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
