# 64-bit Windows (x86_64): the same sources, for the machines whose kernel runs no 32-bit code,
# where the tests, the run scripts and the benchmarks use this build (scripts/windows-arch).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SETUP_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
