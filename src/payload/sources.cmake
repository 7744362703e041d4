list(APPEND CORE_SOURCES payload/memory_buffer.cpp)
list(APPEND WINDOWS_SOURCES payload/payload_scanner.cpp payload/sound_extraction.cpp)
