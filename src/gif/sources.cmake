list(APPEND CORE_SOURCES gif/lzw_decoder.cpp gif/row_placement.cpp gif/gif_animation.cpp)
