# tabrix_add_test(NAME name SOURCES ... LIBS ... [FIXTURES f])
# One GoogleTest executable; every test case becomes a ctest entry. GUI code runs on
# Qt's offscreen platform so that no display is needed. FIXTURES names the ctest fixture
# the cases need ("postgres": the private database server).
include(GoogleTest)
include(${CMAKE_CURRENT_LIST_DIR}/TabrixPostgres.cmake)
function(tabrix_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;FIXTURES" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/common/lsan_suppressions.cpp)
  # The widgets libraries too: tests drive the real windows the core asks for.
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} tabrix_all GTest::gtest GTest::gtest_main)
  target_compile_definitions(${T_NAME} PRIVATE
    TABRIX_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
    TABRIX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TABRIX_BMPSUITE="${PROJECT_SOURCE_DIR}/tests/data/bmpsuite")
  set(extra)
  if(T_FIXTURES)
    set(extra FIXTURES_REQUIRED ${T_FIXTURES})
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600 ${extra})
endfunction()

# tabrix_add_test_folder(PREFIX p LIBS ... [POSTGRES name ...]): every *_test.cpp of the
# calling folder becomes its own test program p_<name>, so that one unfinished file
# never stops the others from building. The files named in POSTGRES (without .cpp)
# run with the private PostgreSQL server.
function(tabrix_add_test_folder)
  cmake_parse_arguments(F "" "PREFIX" "LIBS;POSTGRES" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    set(fixtures)
    if(name IN_LIST F_POSTGRES)
      tabrix_postgres_fixture()
      set(fixtures postgres)
    endif()
    tabrix_add_test(NAME ${F_PREFIX}_${name} SOURCES ${src} LIBS ${F_LIBS} FIXTURES ${fixtures})
  endforeach()
endfunction()
