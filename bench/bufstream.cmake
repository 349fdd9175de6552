add_executable(bench_bufstream ${CMAKE_CURRENT_SOURCE_DIR}/bufstream.cpp)
# Not setup_options: its code page 932 literals break <chrono> (BenchUtil.h) under C++20, whose
# unit suffixes hold a character outside that code page. Nothing here compares Japanese text.
target_compile_options(bench_bufstream PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
target_link_libraries(bench_bufstream PRIVATE net_core)
