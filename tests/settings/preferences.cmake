# The preferences store: text values, integer and boolean reading, damaged files.
ravelin_add_qtest(NAME tst_preferences
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_preferences.cpp
  LIBS ravelin_settings ravelin_testsupport
  TIMEOUT 60)
