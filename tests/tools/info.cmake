# Cabinet information viewer (TForm4, TForm5) driven headless, with a
# stand-in lister and with the real ravelin-cab.
ravelin_add_qtest(NAME tst_cabinfo
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_cabinfo.cpp
  LIBS ravelin_tools ravelin_testsupport
  TIMEOUT 120)
if(TARGET ravelin-cab)
  target_compile_definitions(tst_cabinfo PRIVATE RAVELIN_CAB="$<TARGET_FILE:ravelin-cab>")
  add_dependencies(tst_cabinfo ravelin-cab)
endif()
