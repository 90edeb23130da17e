# The organise window (TForm6) driven headless: search, stop, close during a
# search, the check list and every kind of move.
ravelin_add_qtest(NAME tst_form6
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_form6.cpp
  LIBS ravelin_tools ravelin_testsupport
  TIMEOUT 120)
# The main window's Tools entry and tool button open a fresh organise window.
if(TARGET ravelin_mainwindow)
  ravelin_add_qtest(NAME tst_organise_open
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_organise_open.cpp
    LIBS ravelin_mainwindow ravelin_testsupport
    TIMEOUT 60)
endif()
