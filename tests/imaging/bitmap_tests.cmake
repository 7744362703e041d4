# Tests of the indexed bitmap, run under Wine and on the host.
if(WIN32)
    add_windows_test(indexed_bitmap_test SOURCES indexed_bitmap_test.cpp LIBS player_lib)
else()
    add_host_test(indexed_bitmap_test SOURCES indexed_bitmap_test.cpp LIBS decoding_core_asan)
endif()
