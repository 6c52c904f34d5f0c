# Sanitizer and fuzzing builds (clang). VNTX_SANITIZE=address builds every
# target with AddressSanitizer + UndefinedBehaviorSanitizer, =thread with
# ThreadSanitizer. VNTX_FUZZ builds the libFuzzer programs beside the tests
# (with ASan + UBSan unless another sanitizer is chosen; scripts/sanitize.sh
# asan and scripts/fuzz.sh share that build).
set(VNTX_SANITIZE "" CACHE STRING "Sanitizer build: address (ASan + UBSan) or thread (TSan)")
option(VNTX_FUZZ "Build the libFuzzer targets (clang)" OFF)

if(VNTX_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(VNTX_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT VNTX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VNTX_SANITIZE must be address or thread, not ${VNTX_SANITIZE}")
endif()

if(VNTX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VNTX_FUZZ needs clang")
  endif()
  # The libraries get coverage instrumentation; each fuzz program links the
  # libFuzzer runtime (vntx_fuzz_target in tests/support/Fuzz.cmake).
  add_compile_options(-fsanitize=fuzzer-no-link)
  if(VNTX_SANITIZE STREQUAL "")
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()
