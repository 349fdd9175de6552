setup_add_fuzz_target(archive SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/archive_fuzz.cpp LIBS payload toolkit)
