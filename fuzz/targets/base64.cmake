setup_add_fuzz_target(base64 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/codec/uu_base64_fuzz.cpp LIBS codec)
