add_executable(bench_server ${CMAKE_CURRENT_SOURCE_DIR}/win/server_bench.cpp)
target_include_directories(bench_server PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests/win)
target_link_libraries(bench_server PRIVATE net_win ws2_32 setup_options)
