# SPDX-License-Identifier: Apache-2.0
# ASan + UBSan on our own targets (tests included), when ENABLE_SANITIZERS is
# on. BUILD_FUZZERS (clang only) adds them too, with libFuzzer's coverage
# hooks on every one of our targets; only the fuzz programs link libFuzzer
# itself. Targets that are not ours (GoogleTest) are built as they come.
# float-cast-overflow: gcc leaves it out of "undefined"; clang has it there already.
set(_san -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=undefined,float-cast-overflow
  -fno-omit-frame-pointer)
set(_san_compile "")
set(_san_link "")
if(BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "BUILD_FUZZERS needs clang (-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang)")
  endif()
  set(_san_compile ${_san} -fsanitize=fuzzer-no-link)
  set(_san_link ${_san})
elseif(ENABLE_SANITIZERS)
  set(_san_compile ${_san})
  set(_san_link ${_san})
endif()

# sanitize_our_targets(): the flags above on every target built from a folder
# of this project, called once at the end of the top-level CMakeLists.txt.
function(sanitize_our_targets)
  if(NOT _san_compile)
    return()
  endif()
  set(dirs ${PROJECT_SOURCE_DIR})
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(sub IN LISTS subdirs)
      cmake_path(IS_PREFIX PROJECT_SOURCE_DIR ${sub} ours)
      if(ours)
        list(APPEND dirs ${sub})
      endif()
    endforeach()
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
        target_compile_options(${target} PRIVATE ${_san_compile})
        target_link_options(${target} PRIVATE ${_san_link})
      endif()
    endforeach()
  endwhile()
endfunction()
