# ravelin-cab inf / package, driven as a user runs them.
if(TARGET ravelin-cab AND TARGET ravelin_distribution AND TARGET ravelin_crypto AND RAVELIN_SETUP_IMAGE)
  ravelin_add_qtest(NAME tst_cli_package SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_cli_package.cpp
                    LIBS ravelin_distribution ravelin_crypto ravelin_testsupport TIMEOUT 120)
  target_compile_definitions(tst_cli_package PRIVATE RAVELIN_CAB="$<TARGET_FILE:ravelin-cab>"
                             RAVELIN_SETUP_IMAGE="${RAVELIN_SETUP_IMAGE}")
  add_dependencies(tst_cli_package ravelin-cab)
endif()
