# SPDX-License-Identifier: Apache-2.0
# Warnings for our own targets. Each flag is probed first: the ARM cross
# compiler and clang do not know every flag that x86-64 gcc knows.
include(CheckCXXCompilerFlag)

set(CTRLTOOLS_WARNING_FLAGS
  -Wall -Wextra -Wpedantic
  -Wshadow                # a local hiding a global is easy to miss in plain-function code
  -Wformat=2              # printf-style tracing everywhere
  -Wcast-align
  -Wnon-virtual-dtor
  -Wold-style-cast
  -Wnull-dereference
  -Wduplicated-cond
  -Wlogical-op
)

set(_ctrltools_flags "")
foreach(flag IN LISTS CTRLTOOLS_WARNING_FLAGS)
  string(MAKE_C_IDENTIFIER "HAS${flag}" var)
  check_cxx_compiler_flag(${flag} ${var})
  if(${var})
    list(APPEND _ctrltools_flags ${flag})
  endif()
endforeach()
if(WARNINGS_AS_ERRORS)
  list(APPEND _ctrltools_flags -Werror)
endif()

# enable_warnings(target): our warning set on one of our own targets.
function(enable_warnings target)
  target_compile_options(${target} PRIVATE ${_ctrltools_flags})
endfunction()
