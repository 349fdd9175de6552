# 32-bit Windows (i686): the shipped Setup.exe and Register.exe. 32-bit on purpose: the installer
# starts on 32-bit Windows too, and it reads and writes the registry view of the product's own
# 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SETUP_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
