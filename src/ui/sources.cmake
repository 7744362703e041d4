# Sources of this module: portable ones go to CORE_SOURCES, Win32-only ones to WINDOWS_SOURCES.
