# The new-cabinet dialog, the self-extracting output's messages and the learned default.
ravelin_add_qtest(NAME tst_form8
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_form8.cpp
  LIBS ravelin_cabinet ravelin_testsupport
  TIMEOUT 60)
