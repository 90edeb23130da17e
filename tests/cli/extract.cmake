# ravelin-cab l / t / x on self-extracting files and cabinet sets, and the
# manual page kept in step with every command's --help.
if(TARGET ravelin-cab)
  ravelin_add_qtest(NAME tst_cli_extract SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_cli_extract.cpp
                    LIBS ravelin_testsupport TIMEOUT 300)
  target_compile_definitions(tst_cli_extract PRIVATE RAVELIN_CAB="$<TARGET_FILE:ravelin-cab>"
                             RAVELIN_SETS_DIR="${PROJECT_SOURCE_DIR}/tests/data/sets")
  add_dependencies(tst_cli_extract ravelin-cab)
  ravelin_add_qtest(NAME tst_cli_manual SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_cli_manual.cpp
                    LIBS ravelin_testsupport TIMEOUT 60)
  target_compile_definitions(tst_cli_manual PRIVATE RAVELIN_CAB="$<TARGET_FILE:ravelin-cab>"
                             RAVELIN_MANPAGE="${PROJECT_SOURCE_DIR}/src/cli/ravelin-cab.1")
  add_dependencies(tst_cli_manual ravelin-cab)
endif()
