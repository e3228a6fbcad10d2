# Shared build helpers: warnings for our own code, and one-line test registration.

function(tessel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
  if(TESSEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# tessel_library(NAME [QT] SOURCES... [DEPS lib...]): one folder's library,
# with the project root as include root and our warnings; QT runs moc.
function(tessel_library name)
  cmake_parse_arguments(L "QT" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  if(L_QT)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  endif()
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${L_DEPS})
  tessel_warnings(${name})
endfunction()

# add_unit_test(NAME name SOURCES a.cpp b.cpp [LIBS lib...])
# Builds a GoogleTest executable on the core and registers each test case with CTest.
function(add_unit_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE tessel_core GTest::gtest GTest::gmock GTest::gtest_main ${T_LIBS})
  tessel_warnings(${T_NAME})
  include(GoogleTest)
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
endfunction()
