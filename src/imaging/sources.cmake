list(APPEND CORE_SOURCES imaging/indexed_bitmap.cpp imaging/blit.cpp)
list(APPEND WINDOWS_SOURCES imaging/display_palette.cpp)
