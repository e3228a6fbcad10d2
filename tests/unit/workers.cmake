# The probe workers, their hand-over records, the HTTP store and the FTP store.
add_unit_test(NAME unit_hand_over SOURCES workers_records_test.cpp)
# These need peers or rights that only the Linux build has: the FTP store
# test starts a pyftpdlib server, the HTTP store test a loopback server on
# POSIX sockets, the ICMP tests make network namespaces and pick Linux's
# socket kinds, the neighbour table is Linux's rtnetlink. The Windows build
# proves the same services end to end under Wine (tests/e2e/wine_scenarios.py).
if(NOT WIN32)
  add_unit_test(NAME unit_ftp_store SOURCES ftp_store_test.cpp)
  target_compile_definitions(unit_ftp_store PRIVATE
    TESSEL_FTP_TEST_SERVER="${CMAKE_CURRENT_SOURCE_DIR}/ftp_store_server.py")
  add_unit_test(NAME unit_http_store SOURCES workers_http_store_test.cpp)
  add_unit_test(NAME unit_probes SOURCES workers_probe_test.cpp)
  add_unit_test(NAME unit_neighbour SOURCES neighbour_table_test.cpp)
endif()
