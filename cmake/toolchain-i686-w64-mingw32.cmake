set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
# The compilers of the win32 thread model: their runtime uses the system's
# threads directly, where the posix model's brings its POSIX thread
# emulation into every program. The shared code's locks and threads come
# from common/thread_sync.h, since this runtime has no std::thread.
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_OBJDUMP ${TOOLCHAIN_PREFIX}-objdump)
# libjpeg and libsodium are cross-built into the build folder by
# scripts/build-libjpeg.sh and scripts/build-libsodium.sh.
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX} ${CMAKE_CURRENT_LIST_DIR}/../build/deps/libjpeg-i686
  ${CMAKE_CURRENT_LIST_DIR}/../build/deps/libsodium-i686)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
