# The start-up check thread on virtual time.
add_unit_test(NAME unit_startup_check SOURCES startup_check_test.cpp)
