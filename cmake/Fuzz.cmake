# libFuzzer targets: built with clang alone (the `fuzz` preset), from the few sources each one
# exercises, so the fuzz build stays small next to the full build.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "VURIN_FUZZ needs clang with libFuzzer (use the fuzz preset)")
endif()

set(VURIN_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)

# The request-head path of the phone server: collecting, parsing and routing a client's bytes.
add_executable(vurin_phone_request_head_fuzz tests/fuzz/phone_request_head_fuzz.cpp
               src/phone/phone_http.cpp)
target_include_directories(vurin_phone_request_head_fuzz PRIVATE src)
target_compile_options(vurin_phone_request_head_fuzz PRIVATE ${VURIN_FUZZ_FLAGS})
target_link_options(vurin_phone_request_head_fuzz PRIVATE ${VURIN_FUZZ_FLAGS})
