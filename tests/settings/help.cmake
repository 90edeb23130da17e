# The help document, help window, context help and About box.
ravelin_add_qtest(NAME tst_help
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_help.cpp
  LIBS ravelin_settings ravelin_testsupport
  TIMEOUT 60)
