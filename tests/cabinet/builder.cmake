# Compress Files end to end in the main window (the cabinet builder).
if(TARGET ravelin_mainwindow)
  ravelin_add_qtest(NAME tst_builder SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_builder.cpp
                    LIBS ravelin_mainwindow ravelin_cabinet ravelin_cabreader ravelin_testsupport TIMEOUT 120)
endif()
