# bench_codec: TNMUUProcessor.Encode against Python's binascii, line by line, on the same bytes.
set(SETUP_BENCH_PYTHON "/usr/bin/python3" CACHE FILEPATH "Python used as the benchmarks' baseline")
add_executable(bench_codec ${CMAKE_CURRENT_SOURCE_DIR}/codec_bench.cpp)
# Not setup_options: <chrono> (through BenchUtil.h) holds a literal that code page 932 cannot
# represent, and this program compares no Japanese text.
target_link_libraries(bench_codec PRIVATE codec)
target_compile_options(bench_codec PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
target_compile_definitions(bench_codec PRIVATE SETUP_BENCH_PYTHON="${SETUP_BENCH_PYTHON}")
