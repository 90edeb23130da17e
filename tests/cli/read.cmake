# ravelin-cab l / t / x on the hostile cabinets of tests/data/hostile.
if(TARGET ravelin-cab AND TARGET ravelin_cabreader)
  ravelin_add_qtest(NAME tst_cli_read SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_cli_read.cpp
                    LIBS ravelin_testsupport TIMEOUT 300)
  target_compile_definitions(tst_cli_read PRIVATE RAVELIN_CAB="$<TARGET_FILE:ravelin-cab>"
                             RAVELIN_HOSTILE_DIR="${PROJECT_SOURCE_DIR}/tests/data/hostile")
  add_dependencies(tst_cli_read ravelin-cab)
endif()
