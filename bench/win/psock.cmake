add_executable(bench_psock ${CMAKE_CURRENT_SOURCE_DIR}/win/psock_bench.cpp)
target_include_directories(bench_psock PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests/win)
target_link_libraries(bench_psock PRIVATE net_win setup_options)
