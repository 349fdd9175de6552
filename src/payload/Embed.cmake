# The archive Setup.exe carries, as resource "DAVAREDURAVU" of type "SMZ" in the object library
# payload_archive_resource. What goes in, in order of precedence:
#   -DSETUP_PAYLOAD_ARCHIVE=FILE  a ready archive, embedded as it is (checked with mkpayload list)
#   -DSETUP_PAYLOAD_DIR=DIR       the files of DIR, packed: the four the installer needs first,
#                                 in its order, then any others (subfolders as "folder\name")
#                                 in byte order of their paths
#   neither                       the stand-ins of payload/, packed
# mkpayload is built for the host, by a host configure of tools/mkpayload in host-tools/.
enable_language(RC)
include(ExternalProject)
include(${CMAKE_CURRENT_LIST_DIR}/PayloadNames.cmake)

set(SETUP_PAYLOAD_ARCHIVE "" CACHE FILEPATH "A ready payload archive to embed in Setup.exe")
list(JOIN SETUP_PAYLOAD_NAMES ", " needed)
set(SETUP_PAYLOAD_DIR "" CACHE PATH "A folder with ${needed} to pack")

set(host_tools ${CMAKE_BINARY_DIR}/host-tools)
set(mkpayload ${host_tools}/mkpayload)
ExternalProject_Add(mkpayload_host
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/tools/mkpayload
  BINARY_DIR ${host_tools}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${host_tools} --target mkpayload -j 2
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${mkpayload})

# The payload's entries, in the order the installer writes them.
set(payload_names ${SETUP_PAYLOAD_NAMES})
set(archive ${CMAKE_CURRENT_BINARY_DIR}/davareduravu.smz)

if(SETUP_PAYLOAD_ARCHIVE)
  get_filename_component(ready "${SETUP_PAYLOAD_ARCHIVE}" ABSOLUTE)
  if(NOT EXISTS "${ready}")
    message(FATAL_ERROR "SETUP_PAYLOAD_ARCHIVE: ${ready} does not exist")
  endif()
  add_custom_command(OUTPUT ${archive}
    COMMAND ${mkpayload} list ${ready}
    COMMAND ${CMAKE_COMMAND} -E copy ${ready} ${archive}
    DEPENDS ${ready} ${mkpayload} mkpayload_host
    COMMENT "Checking and embedding the payload archive ${ready}"
    VERBATIM)
else()
  set(inputs)
  if(SETUP_PAYLOAD_DIR)
    get_filename_component(dir "${SETUP_PAYLOAD_DIR}" ABSOLUTE)
    foreach(name ${payload_names})
      if(NOT EXISTS "${dir}/${name}" OR IS_DIRECTORY "${dir}/${name}")
        message(FATAL_ERROR "SETUP_PAYLOAD_DIR: ${dir} has no file ${name} (it needs ${needed})")
      endif()
      list(APPEND inputs "${dir}/${name}")
    endforeach()
    # The rest of the folder goes along; mkpayload judges their names when it packs.
    file(GLOB_RECURSE others LIST_DIRECTORIES false RELATIVE "${dir}" CONFIGURE_DEPENDS "${dir}/*")
    list(REMOVE_ITEM others ${payload_names})
    foreach(name IN LISTS others)
      # A ";" in a name splits it in two here, and mkpayload takes NAME=FILE apart at the first "=".
      if(name MATCHES "=")
        message(FATAL_ERROR "SETUP_PAYLOAD_DIR: ${dir}/${name}: a name holding \"=\" cannot be packed")
      elseif(NOT EXISTS "${dir}/${name}")
        message(FATAL_ERROR "SETUP_PAYLOAD_DIR: ${dir}/${name} cannot be packed: a broken link, or part of a name holding \";\"")
      endif()
      list(APPEND payload_names "${name}")
      list(APPEND inputs "${dir}/${name}")
    endforeach()
    set(what "the files of ${dir}")
  else()
    add_subdirectory(${PROJECT_SOURCE_DIR}/payload ${CMAKE_BINARY_DIR}/payload-standins)
    set(inputs
      $<TARGET_FILE:standin_uninst>
      $<TARGET_FILE:standin_update>
      ${PROJECT_SOURCE_DIR}/payload/rezevavav.chm
      $<TARGET_FILE:standin_rezevavav>)
    set(what "the stand-ins")
  endif()
  set(pack_args)
  foreach(name input IN ZIP_LISTS payload_names inputs)
    list(APPEND pack_args "${name}=${input}")
  endforeach()
  add_custom_command(OUTPUT ${archive}
    COMMAND ${mkpayload} pack ${archive} ${pack_args}
    DEPENDS ${inputs} ${mkpayload} mkpayload_host
    COMMENT "Packing the payload archive from ${what}"
    VERBATIM)
endif()

# windres reads the archive by the path in the script; the object is rebuilt when it changes.
set(rc ${CMAKE_CURRENT_BINARY_DIR}/payload_archive.rc)
file(GENERATE OUTPUT ${rc} CONTENT "DAVAREDURAVU SMZ \"${archive}\"\n")
add_library(payload_archive_resource OBJECT ${rc})
set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${archive})
add_custom_target(payload_archive DEPENDS ${archive})
add_dependencies(payload_archive_resource payload_archive)
set(SETUP_PAYLOAD_ARCHIVE_FILE ${archive} CACHE INTERNAL "The archive embedded in Setup.exe")
