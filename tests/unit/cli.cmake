# The terminal front end: argument checks, exit statuses, what it prints.
add_unit_test(NAME unit_cli SOURCES cli_test.cpp LIBS tessel_cli_parts)
