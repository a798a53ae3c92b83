# ASan + UBSan for the whole build (tests included), when ENABLE_SANITIZERS is
# on. BUILD_FUZZERS (clang only) adds them too, with libFuzzer's coverage
# hooks on every target; only the fuzz programs link libFuzzer itself.
# float-cast-overflow: gcc leaves it out of "undefined"; clang has it there already.
set(_san -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=undefined,float-cast-overflow
  -fno-omit-frame-pointer)
if(BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "BUILD_FUZZERS needs clang (-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang)")
  endif()
  add_compile_options(${_san} -fsanitize=fuzzer-no-link)
  add_link_options(${_san})
elseif(ENABLE_SANITIZERS)
  add_compile_options(${_san})
  add_link_options(${_san})
endif()
