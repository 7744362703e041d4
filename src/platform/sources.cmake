list(APPEND CORE_SOURCES platform/fixed_block.cpp)
