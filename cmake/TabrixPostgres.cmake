# A private PostgreSQL server for the tests, started and stopped by ctest itself.
#
# tabrix_postgres_fixture() adds two tests: postgres_start (FIXTURES_SETUP postgres)
# makes a cluster in a temporary folder and starts it on a Unix socket of its own;
# postgres_stop (FIXTURES_CLEANUP postgres) stops it and removes the folder, also when
# tests failed. A test that needs the server requires the fixture "postgres" (see
# tabrix_add_test FIXTURES) and reads the connection details from the file
# ${TABRIX_POSTGRES_STATE}/connection ("key=value" lines: host, port, user, dbname).
set(TABRIX_POSTGRES_STATE ${CMAKE_BINARY_DIR}/postgres)

function(tabrix_postgres_fixture)
  get_property(defined GLOBAL PROPERTY TABRIX_POSTGRES_FIXTURE)
  if(defined)
    return()
  endif()
  set_property(GLOBAL PROPERTY TABRIX_POSTGRES_FIXTURE ON)
  set(script ${PROJECT_SOURCE_DIR}/tests/support/postgres_fixture.sh)
  add_test(NAME postgres_start COMMAND bash ${script} start ${TABRIX_POSTGRES_STATE})
  set_tests_properties(postgres_start PROPERTIES FIXTURES_SETUP postgres TIMEOUT 180)
  add_test(NAME postgres_stop COMMAND bash ${script} stop ${TABRIX_POSTGRES_STATE})
  set_tests_properties(postgres_stop PROPERTIES FIXTURES_CLEANUP postgres TIMEOUT 120)
endfunction()
