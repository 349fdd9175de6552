# Signs a linked program in place: cmake -DPROGRAM=... -DUNSIGNED_DIR=... -DOSSLSIGNCODE=...
#   -DPKCS12=... -DPASSWORD_FILE=... -DDESCRIPTION=... -DURL=... [-DTIMESTAMP_URL=...] -P SignProgram.cmake
# Run by the build after the link (cmake/Sign.cmake). The unsigned program is kept as
# UNSIGNED_DIR/<name>. When signing fails the program is removed, so that no unsigned program
# passes for a signed one and the next build links and signs it again.
foreach(var PROGRAM UNSIGNED_DIR OSSLSIGNCODE PKCS12 PASSWORD_FILE DESCRIPTION URL)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "SignProgram.cmake: ${var} is not given")
  endif()
endforeach()

get_filename_component(name "${PROGRAM}" NAME)
set(unsigned "${UNSIGNED_DIR}/${name}")
set(signing "${PROGRAM}.signing")
file(MAKE_DIRECTORY "${UNSIGNED_DIR}")
file(COPY_FILE "${PROGRAM}" "${unsigned}")
file(REMOVE "${signing}")

set(timestamp)
if(TIMESTAMP_URL)
  set(timestamp -ts "${TIMESTAMP_URL}")
endif()
# -readpass: the tool reads the password from the file itself.
execute_process(
  COMMAND "${OSSLSIGNCODE}" sign -pkcs12 "${PKCS12}" -readpass "${PASSWORD_FILE}" -h sha256
          -n "${DESCRIPTION}" -i "${URL}" ${timestamp} -in "${unsigned}" -out "${signing}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT EXISTS "${signing}")
  file(REMOVE "${PROGRAM}" "${signing}")
  message(FATAL_ERROR "Signing ${name} with ${PKCS12} failed:\n${out}")
endif()
file(RENAME "${signing}" "${PROGRAM}")
message(STATUS "Signed ${name} (SHA-256; unsigned program kept as ${unsigned})")
