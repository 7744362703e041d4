list(APPEND WINDOWS_SOURCES ui/frame_scheduler.cpp ui/sound_player.cpp ui/main_window.cpp ui/about_dialog.cpp)
