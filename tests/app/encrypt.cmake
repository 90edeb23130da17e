# The main window's Encrypt / Decrypt command opens a fresh TForm9 each time.
if(TARGET ravelin_cryptowin)
  ravelin_add_qtest(NAME tst_encryptcommand SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_encryptcommand.cpp
                    LIBS ravelin_mainwindow ravelin_cryptowin ravelin_testsupport TIMEOUT 120)
endif()
