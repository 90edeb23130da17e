# ravelin-cab encrypt / decrypt, driven as a user runs them.
if(TARGET ravelin-cab AND TARGET ravelin_crypto)
  ravelin_add_qtest(NAME tst_cli_crypto SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_cli_crypto.cpp
                    LIBS ravelin_crypto ravelin_testsupport TIMEOUT 120)
  target_compile_definitions(tst_cli_crypto PRIVATE RAVELIN_CAB="$<TARGET_FILE:ravelin-cab>")
  add_dependencies(tst_cli_crypto ravelin-cab)
endif()
