setup_add_fuzz_target(mailconvert SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/codec/uu_mailconvert_fuzz.cpp LIBS codec)
