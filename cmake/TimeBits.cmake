# SPDX-License-Identifier: Apache-2.0
# 64-bit time_t and off_t in our own targets, also on the 32-bit ARM
# controller, where glibc's defaults are 32 bits: from 2038-01-19 on, time()
# and gettimeofday() fail, and stat() fails on any file stamped later.
# Set on the targets rather than in the toolchain file, which a vendor SDK's
# toolchain file replaces. The controller's libraries are unaffected: their
# declarations in platform/include pass no time_t, off_t or struct holding
# either, and neither do those of libmosquitto, inih and zlib's gz* calls
# that we use (zlib maps them to its 64-bit entry points itself).
# A no-op on x86-64, where both are 64 bits already.

# use_64_bit_time_and_offsets(dir): every compiled target defined in dir and
# in its subdirectories inside our source tree (not GoogleTest's), except
# those with the property LIBC_TIME_BITS.
function(use_64_bit_time_and_offsets dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(libc_time_bits ${target} LIBC_TIME_BITS)
    if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$"
       AND NOT libc_time_bits)
      target_compile_definitions(${target} PRIVATE _TIME_BITS=64 _FILE_OFFSET_BITS=64)
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    cmake_path(IS_PREFIX CMAKE_SOURCE_DIR "${sub}" NORMALIZE inside)
    if(inside)
      use_64_bit_time_and_offsets(${sub})
    endif()
  endforeach()
endfunction()
