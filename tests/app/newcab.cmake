# The main window's new-cabinet road: start-up dialog, New Cab, Exit, learned default, makeSX.
ravelin_add_qtest(NAME tst_newcab SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_newcab.cpp
                  LIBS ravelin_mainwindow ravelin_testsupport TIMEOUT 120)
