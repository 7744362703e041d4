# Frame scheduler and sound playback under Wine, against link-time fakes of
# the timer, sound and window-manager calls; the frame timer once more
# against the real timer service.
set(FAKES_DIR ${CMAKE_SOURCE_DIR}/tests/support)
if(WIN32)
    add_windows_test(frame_scheduler_test
        SOURCES frame_scheduler_test.cpp ${FAKES_DIR}/call_log.cpp
                ${FAKES_DIR}/fake_timer.cpp ${FAKES_DIR}/fake_sound.cpp
                ${FAKES_DIR}/fake_window.cpp
        LIBS player_lib)
    add_windows_test(sound_player_test
        SOURCES sound_player_test.cpp ${FAKES_DIR}/call_log.cpp ${FAKES_DIR}/fake_sound.cpp
        LIBS player_lib)
    add_windows_test(frame_timer_smoke_test SOURCES frame_timer_smoke_test.cpp LIBS player_lib)
endif()
