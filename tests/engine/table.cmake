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
  ${engine_spawn})
target_link_libraries(engine_tests PRIVATE engine GTest::gtest_main)
if(NOT WIN32)
  # Drive letters read as the file services read them (Windows reads them itself).
  target_sources(engine_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/paths_test.cpp)
  target_link_libraries(engine_tests PRIVATE testsupport)
endif()
target_compile_definitions(engine_tests PRIVATE ENGINE_STRESS_NAME="$<TARGET_FILE_NAME:engine_stress>")
add_dependencies(engine_tests engine_stress)
add_test(NAME engine_tests COMMAND engine_tests)

# The benchmark (not a test; run by hand).
add_executable(engine_bench ${CMAKE_CURRENT_LIST_DIR}/engine_bench.cpp)
target_link_libraries(engine_bench PRIVATE engine)
