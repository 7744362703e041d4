# Flags of the host build. The decoding core is compiled three times: with
# AddressSanitizer and UndefinedBehaviorSanitizer for the unit tests, with
# the fuzzer's instrumentation, and optimised for the benchmark.
set(SANITIZE_OPTIONS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O1)
# The fuzz build leaves out comparison tracing: the decoder's codes are
# bit-packed, where it cannot guide mutations, yet its hooks in the decoding
# loops took over half the run time; fuzz/gif.dict supplies the parser's
# byte tokens instead.
set(FUZZ_OPTIONS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-coverage=trace-cmp -fno-sanitize-recover=all -g -O2)
set(BENCH_OPTIONS -O2 -DNDEBUG)
set(PRODUCT_COMPILE_OPTIONS -Wall -Wextra -Wmissing-declarations)

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(lib gtest gtest_main)
    target_compile_options(${lib} PRIVATE ${SANITIZE_OPTIONS})
endforeach()

# A host unit test, built and run under the sanitizers.
function(add_host_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;ARGS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_compile_options(${name} PRIVATE ${SANITIZE_OPTIONS})
    target_link_options(${name} PRIVATE -fsanitize=address,undefined)
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name} ${T_ARGS})
endfunction()
