add_executable(bench_bufstream ${CMAKE_CURRENT_SOURCE_DIR}/bufstream.cpp)
target_link_libraries(bench_bufstream PRIVATE net_core setup_options)
