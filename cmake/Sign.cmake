# Authenticode signing of the shipped programs (SHA-256, osslsigncode), after they are linked.
# Without a key they stay unsigned. The password stays in its file: the build passes the file's
# name to the signing tool, which reads it, so it shows on no command line and in no build log.
set(SETUP_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file with the code-signing key and its certificates (empty: unsigned)")
set(SETUP_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of SETUP_SIGN_PKCS12 (may be empty)")
set(SETUP_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server for the signatures (empty: none)")
set(SETUP_SIGN_URL "https://www.ruviva.example/" CACHE STRING "The maker's web address, carried in the signatures")

if(SETUP_SIGN_PKCS12)
  foreach(option SETUP_SIGN_PKCS12 SETUP_SIGN_PASSWORD_FILE)
    if(NOT ${option})
      message(FATAL_ERROR "SETUP_SIGN_PKCS12 needs SETUP_SIGN_PASSWORD_FILE, the file holding its password (an empty file for none)")
    endif()
    get_filename_component(path "${${option}}" ABSOLUTE)
    if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
      message(FATAL_ERROR "${option}: ${path} is no file")
    endif()
    set(${option} "${path}")
  endforeach()
  find_program(SETUP_OSSLSIGNCODE osslsigncode)
  if(NOT SETUP_OSSLSIGNCODE)
    message(FATAL_ERROR "Signing needs osslsigncode (scripts/bootstrap installs it)")
  endif()
endif()

# setup_sign_program(TARGET DESCRIPTION): signs the target's program in place after each link,
# keeping the unsigned program beside it in unsigned/ (what two builds are compared by).
function(setup_sign_program target description)
  if(NOT SETUP_SIGN_PKCS12)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DUNSIGNED_DIR=$<TARGET_FILE_DIR:${target}>/unsigned
      -DOSSLSIGNCODE=${SETUP_OSSLSIGNCODE} -DPKCS12=${SETUP_SIGN_PKCS12} -DPASSWORD_FILE=${SETUP_SIGN_PASSWORD_FILE}
      -DDESCRIPTION=${description} -DURL=${SETUP_SIGN_URL} -DTIMESTAMP_URL=${SETUP_SIGN_TIMESTAMP_URL}
      -P ${PROJECT_SOURCE_DIR}/cmake/SignProgram.cmake
    VERBATIM)
  # A new key or password in the same files signs again.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${SETUP_SIGN_PKCS12} ${SETUP_SIGN_PASSWORD_FILE})
endfunction()
