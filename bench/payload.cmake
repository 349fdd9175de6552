# Payload archive: extraction speed (bench_payload) and the packer's size and speed (bench_pack).
# Not setup_options: <chrono> (through BenchUtil.h) holds a literal that code page 932 cannot
# represent, and these programs compare no Japanese text.
foreach(bench payload pack)
  if(bench STREQUAL "payload")
    set(source payload_extract.cpp)
  else()
    set(source payload_pack.cpp)
  endif()
  add_executable(bench_${bench} ${CMAKE_CURRENT_LIST_DIR}/${source} ${CMAKE_CURRENT_LIST_DIR}/payload_corpus.cpp)
  target_include_directories(bench_${bench} PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(bench_${bench} PRIVATE payload_pack payload toolkit)
  target_compile_options(bench_${bench} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
  target_compile_definitions(bench_${bench} PRIVATE SETUP_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endforeach()
