# The help document, help window, context help and About box.
ravelin_add_qtest(NAME tst_help
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_help.cpp
  LIBS ravelin_settings ravelin_testsupport
  TIMEOUT 60)

# The main window's Help menu, toolbar, About, Get Info and placement hooks.
if(TARGET ravelin_mainwindow)
  ravelin_add_qtest(NAME tst_helpcommands
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_helpcommands.cpp
    LIBS ravelin_mainwindow ravelin_testsupport
    TIMEOUT 60)
endif()

# Screenshots for docs/ (built on demand: cmake --build . --target info_shots,
# then run info_shots OUTPUT_DIR path/to/ravelin-cab).
if(TARGET ravelin_tools)
  add_executable(info_shots EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/info_shots.cpp)
  target_link_libraries(info_shots PRIVATE ravelin_tools ravelin_settings ravelin_testsupport Qt6::Test)
endif()
