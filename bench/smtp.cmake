# bench_smtp: assembling a mail with a 10 MiB attachment (SmtpCore) against Python's email
# package building and flattening the same mail; Python's smtplib send of it to the SMTP test
# peer is printed too, as the yardstick of the client's whole SendMail (bench/smtp_send.py).
set(SETUP_BENCH_PYTHON "/usr/bin/python3" CACHE FILEPATH "Python used as the benchmarks' baseline")
add_executable(bench_smtp ${CMAKE_CURRENT_SOURCE_DIR}/smtp_assemble.cpp)
target_link_libraries(bench_smtp PRIVATE mail_core setup_options)
target_compile_definitions(bench_smtp PRIVATE SETUP_BENCH_PYTHON="${SETUP_BENCH_PYTHON}"
  SMTP_SEND_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/smtp_send.py")
