# Main window, About dialog and resources. The window and dialog tests link
# the resource script, so the menu, dialog and icon they load are the
# player's own; the resource test reads the built player itself. The window
# tests run modal loops: a time limit makes a fault fail them, never hang.
if(WIN32)
    set(PLAYER_RC ${CMAKE_SOURCE_DIR}/src/resources/player.rc)
    add_windows_test(main_window_test
        SOURCES main_window_test.cpp window_fakes.cpp dialog_watch.cpp
                ${CMAKE_SOURCE_DIR}/tests/support/call_log.cpp ${PLAYER_RC}
        LIBS player_lib)
    add_windows_test(about_dialog_test
        SOURCES about_dialog_test.cpp dialog_watch.cpp ${PLAYER_RC}
        LIBS player_lib)
    set_tests_properties(main_window_test about_dialog_test PROPERTIES TIMEOUT 60)
    if(TARGET player)
        add_windows_test(player_resources_test
            SOURCES player_resources_test.cpp
            ARGS $<TARGET_FILE:player>)
        set_tests_properties(player_resources_test PROPERTIES TIMEOUT 60)
    endif()
else()
    add_test(NAME player_icon_is_generated
        COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/make_icon.py --check
                ${CMAKE_SOURCE_DIR}/src/resources/player.ico)
endif()
