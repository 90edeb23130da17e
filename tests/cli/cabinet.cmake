# ravelin-cab n / l / x / t, driven as a user runs them.
if(TARGET ravelin-cab AND TARGET ravelin_fci AND TARGET ravelin_cabreader)
  ravelin_add_qtest(NAME tst_cli_cabinet SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_cli_cabinet.cpp
                    LIBS ravelin_testsupport TIMEOUT 120)
  target_compile_definitions(tst_cli_cabinet PRIVATE RAVELIN_CAB="$<TARGET_FILE:ravelin-cab>")
  add_dependencies(tst_cli_cabinet ravelin-cab)
endif()
if(TARGET ravelin-cab)
  ravelin_add_qtest(NAME tst_cli_safeoutput SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_cli_safeoutput.cpp
                    LIBS ravelin_testsupport TIMEOUT 300)
  target_compile_definitions(tst_cli_safeoutput PRIVATE RAVELIN_CAB="$<TARGET_FILE:ravelin-cab>")
  add_dependencies(tst_cli_safeoutput ravelin-cab)
endif()
if(TARGET ravelin-cab)
  ravelin_add_qtest(NAME tst_cli_new SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_cli_new.cpp
                    LIBS ravelin_testsupport TIMEOUT 300)
  target_compile_definitions(tst_cli_new PRIVATE RAVELIN_CAB="$<TARGET_FILE:ravelin-cab>")
  add_dependencies(tst_cli_new ravelin-cab)
endif()
