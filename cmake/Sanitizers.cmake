# ASan + UBSan for the whole build (tests included), when ENABLE_SANITIZERS is on.
if(ENABLE_SANITIZERS)
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_compile_options(${_san})
  add_link_options(${_san})
endif()
