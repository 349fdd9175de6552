# Warning and charset flags shared by every target of ours (not by GoogleTest).
add_library(setup_options INTERFACE)
target_compile_options(setup_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
  -finput-charset=UTF-8)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # Literals are code page 932 bytes in the program, as on a Japanese Windows. //TRANSLIT lets
  # the standard headers' few characters outside the code page ("µs" in <chrono>) compile;
  # every Japanese text of ours is checked against its exact bytes in the tests.
  target_compile_options(setup_options INTERFACE "-fexec-charset=CP932//TRANSLIT")
else()
  # clang has no -fexec-charset; its literals stay UTF-8. Only the fuzz build uses clang, and
  # nothing it builds compares Japanese literals.
endif()
if(WIN32)
  target_compile_definitions(setup_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 STRICT)
  # Reproducible programs: two builds of the same sources in different folders, at different
  # times, give the same bytes. The linker writes no time stamp into the PE header, and paths
  # (__FILE__, debug information) name the source and build folders by fixed words; the last
  # map that matches wins, so the build folder, often inside the sources, comes second.
  target_compile_options(setup_options INTERFACE
    "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=source" "-ffile-prefix-map=${CMAKE_BINARY_DIR}=build")
  target_link_options(setup_options INTERFACE -Wl,--no-insert-timestamp)
endif()
if(SETUP_FUZZ)
  # Every unit of ours gives the fuzzer coverage feedback and is checked by the sanitizers, not
  # only the fuzz targets' own files; everything linking them links the sanitizer runtimes.
  target_compile_options(setup_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
    -fno-omit-frame-pointer)
  target_link_options(setup_options INTERFACE -fsanitize=address,undefined)
endif()
if(SETUP_SANITIZE AND NOT WIN32)
  target_compile_options(setup_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  target_link_options(setup_options INTERFACE -fsanitize=address,undefined)
endif()

# setup_add_test(NAME SOURCES... [LIBS ...] [WIN32ONLY] [ARGS ...] [WRAPPER COMMAND...])
# One executable, one ctest entry (Wine starts slowly, so cases are grouped per executable).
# Under the windows preset the test runs through the Wine wrapper (the cross-compiling emulator).
function(setup_add_test name)
  cmake_parse_arguments(T "WIN32ONLY;NATIVEONLY" "" "SOURCES;LIBS;ARGS;WRAPPER" ${ARGN})
  if(T_WIN32ONLY AND NOT WIN32)
    return()
  endif()
  if(T_NATIVEONLY AND WIN32)
    return()
  endif()
  add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main setup_options)
  if(T_WRAPPER)
    # WRAPPER: a command that runs the test's command line (the emulator's, when cross-built).
    add_test(NAME ${name} COMMAND ${T_WRAPPER} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}> ${T_ARGS})
  else()
    add_test(NAME ${name} COMMAND ${name} ${T_ARGS})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
