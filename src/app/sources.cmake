list(APPEND WINDOWS_SOURCES app/lifetime.cpp)
