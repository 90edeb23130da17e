# The folder chooser: path shortening, roots, results, events and the dialog.
ravelin_add_qtest(NAME tst_browsefolder
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_browsefolder.cpp
  LIBS ravelin_tools ravelin_testsupport
  TIMEOUT 60)
