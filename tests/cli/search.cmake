# ravelin-cab search: the organise window's search on the command line.
if(TARGET ravelin-cab)
  ravelin_add_qtest(NAME tst_cli_search
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_cli_search.cpp
    LIBS ravelin_fileiterator ravelin_testsupport
    TIMEOUT 60)
  target_compile_definitions(tst_cli_search PRIVATE RAVELIN_CAB="$<TARGET_FILE:ravelin-cab>")
  add_dependencies(tst_cli_search ravelin-cab)
endif()
