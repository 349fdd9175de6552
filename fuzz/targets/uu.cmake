setup_add_fuzz_target(uu SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/codec/uu_fuzz.cpp LIBS codec)
