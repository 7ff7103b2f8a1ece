# The table half of the engine: the public interface, DBF tables, FPT memos, locks and the
# operating-system back end (one per platform). Links the index half.
set(engine_os ${CMAKE_CURRENT_LIST_DIR}/os_posix.cpp)
if(WIN32)
  set(engine_os ${CMAKE_CURRENT_LIST_DIR}/os_win32.cpp)
endif()
add_library(engine STATIC
  ${CMAKE_CURRENT_LIST_DIR}/engine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table_records.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table_cursor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table_fields.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table_change.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table_locks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table_indexes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table_build.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dbf.cpp
  ${CMAKE_CURRENT_LIST_DIR}/memo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/verify.cpp
  ${CMAKE_CURRENT_LIST_DIR}/os_backend.cpp
  ${engine_os})
target_include_directories(engine PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(engine PUBLIC engine_index)
if(NOT WIN32)
  target_link_libraries(engine PRIVATE hostpath) # drive letters and names as the file services read them
endif()
if(INSTAYUDA_FUZZ)
  # Coverage feedback for the fuzz targets that exercise this library.
  target_compile_options(engine PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
endif()

# dbverify: checks a table against its memo file and structural index (the verify call) and
# prints each disagreement; exit status 0 only when all agrees.
add_executable(dbverify ${CMAKE_CURRENT_LIST_DIR}/dbverify.cpp)
target_link_libraries(dbverify PRIVATE engine)
if(INSTAYUDA_FUZZ)
  target_link_options(dbverify PRIVATE -fsanitize=address,undefined)
endif()
