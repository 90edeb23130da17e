# The self-extracting join engine: bytes, order, and what failures leave behind.
ravelin_add_qtest(NAME tst_sfxjoin
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_sfxjoin.cpp
  LIBS ravelin_sfx ravelin_testsupport
  TIMEOUT 60)
