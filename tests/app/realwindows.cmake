# The real windows under an X server of the test's own (Xvfb; skipped without
# it): titles as a window manager reads them, a stored placement larger than
# the screen, and Get Info running the ravelin-cab built beside ravelin.
if(TARGET ravelin AND TARGET ravelin-cab)
  ravelin_add_qtest(NAME tst_realwindows SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_realwindows.cpp
                    LIBS ravelin_mainwindow ravelin_testsupport TIMEOUT 180)
  target_compile_definitions(tst_realwindows PRIVATE RAVELIN="$<TARGET_FILE:ravelin>"
                             RAVELIN_CAB="$<TARGET_FILE:ravelin-cab>")
  add_dependencies(tst_realwindows ravelin ravelin-cab)
endif()
