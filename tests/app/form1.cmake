ravelin_add_qtest(NAME tst_form1 SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_form1.cpp
                  LIBS ravelin_mainwindow ravelin_testsupport)
