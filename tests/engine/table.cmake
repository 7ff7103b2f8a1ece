# The table half's tests: engine_tests (unit, round-trip, layout, index, damaged-file and
# multi-process tests) and engine_stress, the worker program the multi-process tests start.
add_executable(engine_stress ${CMAKE_CURRENT_LIST_DIR}/engine_stress.cpp)
target_link_libraries(engine_stress PRIVATE engine)

set(engine_spawn ${CMAKE_CURRENT_LIST_DIR}/spawn_posix.cpp)
if(WIN32)
  set(engine_spawn ${CMAKE_CURRENT_LIST_DIR}/spawn_win32.cpp)
endif()
add_executable(engine_tests
  ${CMAKE_CURRENT_LIST_DIR}/table_support.cpp
  ${CMAKE_CURRENT_LIST_DIR}/format_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/locks_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/index_table_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/damaged_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/process_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/foreign_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/repair_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/agreement_test.cpp
  ${engine_spawn})
target_link_libraries(engine_tests PRIVATE engine GTest::gtest_main)
if(NOT WIN32)
  # Drive letters read as the file services read them (Windows reads them itself).
  target_sources(engine_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/paths_test.cpp)
  target_link_libraries(engine_tests PRIVATE testsupport)
endif()
target_compile_definitions(engine_tests PRIVATE ENGINE_STRESS_NAME="$<TARGET_FILE_NAME:engine_stress>"
                                                DBVERIFY_NAME="$<TARGET_FILE_NAME:dbverify>")
# The foreign sample tables (read in place; the tests copy them before changing anything).
set(foreign_fixtures ${CMAKE_SOURCE_DIR}/../shared/fixtures/foreign)
cmake_path(NORMAL_PATH foreign_fixtures)
if(WIN32)
  set(foreign_fixtures_native "Z:${foreign_fixtures}") # Wine's drive for the Unix root
else()
  set(foreign_fixtures_native "${foreign_fixtures}")
endif()
target_compile_definitions(engine_tests PRIVATE FOREIGN_FIXTURES="${foreign_fixtures_native}")
add_dependencies(engine_tests engine_stress dbverify)
# Over 10 s under Wine (about 25 s): real processes against each other (open modes, table
# locks, appends from several processes, each a Wine process start), and a repair of an index
# cut off at every one of its pages, each repair a new file that replaces the old one.
add_test(NAME engine_tests COMMAND engine_tests)

# The benchmark (not a test; run by hand).
add_executable(engine_bench ${CMAKE_CURRENT_LIST_DIR}/engine_bench.cpp)
target_link_libraries(engine_bench PRIVATE engine)

# dbverify on a copy of each foreign sample table: exit 0 only when all agrees.
set(foreign_copy ${CMAKE_CURRENT_BINARY_DIR}/foreign)
file(COPY ${foreign_fixtures}/ DESTINATION ${foreign_copy} NO_SOURCE_PERMISSIONS FILES_MATCHING
     PATTERN "*.dbf" PATTERN "*.CDX" PATTERN "*.FPT")
add_test(NAME dbverify_foreign COMMAND dbverify ${foreign_copy}/calls.dbf ${foreign_copy}/setup.dbf)

# The crash harness: every change point of the operations that write, stopped there by the
# failing back ends of fault_os.h; and the races between two handles forced by interleave_os.h.
add_executable(engine_crash_tests
  ${CMAKE_CURRENT_LIST_DIR}/table_support.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fault_os.cpp
  ${CMAKE_CURRENT_LIST_DIR}/interleave_os.cpp
  ${CMAKE_CURRENT_LIST_DIR}/crash_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/race_test.cpp)
target_link_libraries(engine_crash_tests PRIVATE engine GTest::gtest_main)
add_test(NAME engine_crash_tests COMMAND engine_crash_tests)
