# Cross build for 64-bit ARM Linux with Debian's cross compilers (g++-aarch64-linux-gnu) against the arm64
# multiarch packages (libraries and headers under /usr/lib/aarch64-linux-gnu and /usr/include/aarch64-linux-gnu).
# Qt's build tools (moc) are the build machine's own. Programs run through qemu-aarch64, which finds the
# multiarch loader and libraries in their usual places (no -L: see scripts/test-aarch64.sh).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# Libraries, headers and packages of the target only; programs (moc, qemu) of the build machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)

# Test discovery and the tests run the target's programs.
find_program(PICTURA_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PICTURA_QEMU_AARCH64})

# Qt's tools for the build machine.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
