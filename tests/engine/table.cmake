# The table half's tests: engine_tests (unit, round-trip and layout tests).
add_executable(engine_tests
  ${CMAKE_CURRENT_LIST_DIR}/table_support.cpp
  ${CMAKE_CURRENT_LIST_DIR}/format_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/locks_test.cpp)
target_link_libraries(engine_tests PRIVATE engine GTest::gtest_main)
add_test(NAME engine_tests COMMAND engine_tests)
