# The files every payload holds, in the order the installer writes them (any other files of a
# payload folder follow). Embed.cmake packs by it; scripts/release checks a folder against it
# before it builds, reading it with `cmake -P PayloadNames.cmake` (one name a line).
set(SETUP_PAYLOAD_NAMES UnInst.exe update.exe rezevavav.chm rezevavav.exe)

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  list(JOIN SETUP_PAYLOAD_NAMES "\n" names)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${names}")
endif()
