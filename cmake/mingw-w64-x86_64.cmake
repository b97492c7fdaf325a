# Cross build for 64-bit Windows with Debian's MinGW-w64, posix thread model:
# its libstdc++ has std::thread, std::mutex and std::condition_variable (on
# winpthreads), which the engine's helper and scanning threads use.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# One self-contained .exe: no libgcc, libstdc++ or libwinpthread DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# GCC cannot realign the stack on 64-bit Windows, so a 32- or 64-byte vector
# it spills may sit at an address aligned to 16 only; the assembler writes
# every aligned vector move as an unaligned one, which costs nothing when the
# address is aligned and does not fault when it is not.
string(APPEND CMAKE_CXX_FLAGS_INIT " -Wa,-muse-unaligned-vector-move")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
