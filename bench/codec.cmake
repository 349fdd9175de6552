# bench_codec: TNMUUProcessor.Encode against Python's binascii, line by line, on the same bytes.
set(SETUP_BENCH_PYTHON "/usr/bin/python3" CACHE FILEPATH "Python used as the benchmarks' baseline")
add_executable(bench_codec ${CMAKE_CURRENT_SOURCE_DIR}/codec_bench.cpp)
target_link_libraries(bench_codec PRIVATE codec setup_options)
target_compile_definitions(bench_codec PRIVATE SETUP_BENCH_PYTHON="${SETUP_BENCH_PYTHON}")
