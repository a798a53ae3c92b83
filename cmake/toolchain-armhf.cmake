# SPDX-License-Identifier: Apache-2.0
# Cross build for the controller: 32-bit ARM hard-float (arm-linux-gnueabihf)
# with Debian's cross compilers and multiarch :armhf libraries, run under
# qemu-arm. Use: cmake -S . -B build/armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
# The libraries are not in a sysroot of their own but beside the host's in
# /usr (multiarch), so the x86-64 folders are hidden from find_* instead.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
find_program(CMAKE_STRIP arm-linux-gnueabihf-strip)
# GCC on ARM notes every std::map iterator passed by value because its ABI
# changed in GCC 7.1; everything here is built by one compiler, so it is noise.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)

# ctest runs the test programs (and gtest discovery) through the emulator; the
# end-to-end tests get it as EMULATOR. "-L /" rather than the cross
# toolchain's /usr/arm-linux-gnueabihf: that prefix gives the toolchain's
# ld.so, which then loads libc.so.6 of libc6:armhf (needed by the :armhf
# libraries) from /lib/arm-linux-gnueabihf; once the two differ in version
# (a security update of libc6:armhf), a forked child crashes. With "/" the
# loader and every library come from the :armhf packages, as on a device.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm;-L;/)

# 64-bit file offsets: a 32-bit readdir() fails with EOVERFLOW on ext4's
# 64-bit directory cookies under qemu (and on the device wherever inode
# numbers pass 32 bits), and the programs list directories. The platform's
# declarations pass no off_t, ino_t or struct stat: their ABI is unchanged.
set(CMAKE_C_FLAGS_INIT -D_FILE_OFFSET_BITS=64)
string(APPEND CMAKE_CXX_FLAGS_INIT " -D_FILE_OFFSET_BITS=64")

# Multiarch: ARM libraries in /usr/lib/arm-linux-gnueabihf, ARM-only headers
# in /usr/include/arm-linux-gnueabihf, the rest of /usr/include shared.
list(APPEND CMAKE_LIBRARY_PATH /usr/lib/arm-linux-gnueabihf /lib/arm-linux-gnueabihf)
list(APPEND CMAKE_INCLUDE_PATH /usr/include/arm-linux-gnueabihf /usr/include)
list(APPEND CMAKE_IGNORE_PATH
  /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu /usr/include/x86_64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)

# The controller's own libraries (PLATFORM_STANDINS=OFF) come from a copy of
# its root file system: -DCONTROLLER_SYSROOT=/path/to/rootfs.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CONTROLLER_SYSROOT)
if(CONTROLLER_SYSROOT)
  set(CMAKE_SYSROOT ${CONTROLLER_SYSROOT})
  list(APPEND CMAKE_FIND_ROOT_PATH ${CONTROLLER_SYSROOT})
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm;-L;${CONTROLLER_SYSROOT})
endif()
