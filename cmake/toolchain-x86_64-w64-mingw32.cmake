set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_OBJDUMP ${TOOLCHAIN_PREFIX}-objdump)
# libjpeg, libsodium and GoogleTest are cross-built into the build folder by
# scripts/build-libjpeg.sh, scripts/build-libsodium.sh and
# scripts/build-googletest.sh.
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX}
  ${CMAKE_CURRENT_LIST_DIR}/../build/deps/libjpeg-x86_64
  ${CMAKE_CURRENT_LIST_DIR}/../build/deps/libsodium-x86_64
  ${CMAKE_CURRENT_LIST_DIR}/../build/deps/googletest-x86_64)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
