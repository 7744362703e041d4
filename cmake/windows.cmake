# Flags of the Windows build. Product code is size-optimised and builds
# without exceptions or RTTI, so the player links no C++ runtime support; it
# is linked statically, so it needs no MinGW runtime DLL.
set(PRODUCT_COMPILE_OPTIONS
    -Os -fno-exceptions -fno-rtti -ffunction-sections
    -fno-asynchronous-unwind-tables
    -Wall -Wextra -Wmissing-declarations)
set(PRODUCT_LINK_OPTIONS -static -s -Wl,--gc-sections)

# GoogleTest from Debian's sources, built with the cross toolchain.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(TEST_LINK_OPTIONS -static)

# A test executable run under Wine: one CTest test per executable.
function(add_windows_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;ARGS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main)
    target_link_options(${name} PRIVATE ${TEST_LINK_OPTIONS})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name} ${T_ARGS})
    set_tests_properties(${name} PROPERTIES LABELS wine)
endfunction()
