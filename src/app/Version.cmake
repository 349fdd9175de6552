# The version of Setup.exe and Register.exe: four numbers from 0 to 65535 without leading zeros
# (the four 16-bit words of a version resource). src/app/CMakeLists.txt checks its cache option by
# it; scripts/release checks its --version before it builds, and learns the default, with
#   cmake -P Version.cmake -- [A.B.C.D]
# which prints the version (the default when none is given) or stops with the build's message.
# (The version comes as an argument, not as -D, which drops the spaces that end a value.)
set(SETUP_PRODUCT_VERSION_DEFAULT 1.0.0.0)

# setup_check_version(VERSION): stops with a message unless VERSION is such a version.
function(setup_check_version version)
  set(number "(0|[1-9][0-9]?[0-9]?[0-9]?[0-9]?)")
  if(NOT version MATCHES "^${number}\\.${number}\\.${number}\\.${number}$" OR CMAKE_MATCH_1 GREATER 65535
     OR CMAKE_MATCH_2 GREATER 65535 OR CMAKE_MATCH_3 GREATER 65535 OR CMAKE_MATCH_4 GREATER 65535)
    message(FATAL_ERROR "SETUP_PRODUCT_VERSION must be four numbers from 0 to 65535 without leading zeros, such as 1.2.0.15, not '${version}'")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  set(version ${SETUP_PRODUCT_VERSION_DEFAULT})
  if(CMAKE_ARGC GREATER 4)
    set(version "${CMAKE_ARGV4}")
  endif()
  setup_check_version("${version}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${version}")
endif()
