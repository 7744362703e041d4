# Blit, on Windows and under the host's sanitizers; the display palette under
# Wine, against link-time fakes of the painting and palette calls.
set(FAKES_DIR ${CMAKE_SOURCE_DIR}/tests/support)
if(WIN32)
    add_windows_test(blit_test SOURCES blit_test.cpp LIBS player_lib)
    add_windows_test(display_palette_test
        SOURCES display_palette_test.cpp ${FAKES_DIR}/call_log.cpp
                ${FAKES_DIR}/fake_gdi.cpp ${FAKES_DIR}/fake_window.cpp
        LIBS player_lib)
else()
    add_host_test(blit_test SOURCES blit_test.cpp LIBS decoding_core_asan)
endif()
