# Window placement storage in the preferences store.
ravelin_add_qtest(NAME tst_placement
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_placement.cpp
  LIBS ravelin_settings ravelin_testsupport
  TIMEOUT 60)
