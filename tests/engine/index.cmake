# Tests of the index half of the engine: expressions, key encoding, compound index files.
add_executable(engine_index_tests
  ${CMAKE_CURRENT_LIST_DIR}/expr_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/keys_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cdx_test.cpp)
target_link_libraries(engine_index_tests PRIVATE engine_index GTest::gtest_main)
add_test(NAME engine_index_tests COMMAND engine_index_tests)
