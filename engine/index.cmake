# The index half of the engine: key and condition expressions, key encoding and compound
# index files. Standard library only; the table half ("engine") links it.
add_library(engine_index STATIC
  ${CMAKE_CURRENT_LIST_DIR}/expr.cpp
  ${CMAKE_CURRENT_LIST_DIR}/expr_eval.cpp
  ${CMAKE_CURRENT_LIST_DIR}/expr_functions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/keys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cdx.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cdx_node.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cdx_cache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cdx_freelist.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cdx_cursor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cdx_tree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cdx_directory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/calendar.cpp)
target_include_directories(engine_index PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(engine_index PUBLIC expr_syntax)
if(INSTAYUDA_FUZZ)
  # Coverage feedback for the fuzz targets that exercise this library.
  target_compile_options(engine_index PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
endif()
