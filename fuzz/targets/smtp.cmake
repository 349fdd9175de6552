setup_add_fuzz_target(smtp SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/mail/smtp_fuzz.cpp LIBS mail_core)
