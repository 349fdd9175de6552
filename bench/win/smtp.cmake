# bench_smtp_send: TNMSMTP sending a mail with a 10 MiB attachment to the SMTP test peer, plain and
# over STARTTLS, against Python's smtplib sending the same attachment to the same peer the same
# way (bench/smtp_send.py), run from the benchmark as host programs.
set(SETUP_BENCH_PYTHON "/usr/bin/python3" CACHE FILEPATH "Python used as the benchmarks' baseline")
add_executable(bench_smtp_send ${CMAKE_CURRENT_LIST_DIR}/smtp_bench.cpp)
target_include_directories(bench_smtp_send PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(bench_smtp_send PRIVATE mail_win setup_options)
target_compile_definitions(bench_smtp_send PRIVATE SETUP_BENCH_PYTHON="${SETUP_BENCH_PYTHON}"
  SMTP_SEND_SCRIPT="${CMAKE_CURRENT_LIST_DIR}/../smtp_send.py"
  SMTP_PEER_SCRIPT="${PROJECT_SOURCE_DIR}/tests/peers/smtp_peer.py"
  MAKE_TEST_CERTS_SCRIPT="${PROJECT_SOURCE_DIR}/tests/peers/make_test_certs.sh")
