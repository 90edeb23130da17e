# ravelin-cab n --sfx: the self-extracting output from the command line.
ravelin_add_qtest(NAME tst_cli_sfx SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_cli_sfx.cpp
                  LIBS ravelin_testsupport TIMEOUT 120)
if(TARGET tst_cli_sfx)
  target_compile_definitions(tst_cli_sfx PRIVATE RAVELIN_CAB="$<TARGET_FILE:ravelin-cab>")
  add_dependencies(tst_cli_sfx ravelin-cab)
endif()
