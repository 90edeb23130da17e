# The installed tree: files in place, desktop entry and AppStream data valid.
if(TARGET ravelin AND TARGET ravelin-cab)
  add_test(NAME install_check
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/install_check.sh ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/install-check
                   ${RAVELIN_VERSION_TEXT})
  set_tests_properties(install_check PROPERTIES TIMEOUT 120)
endif()
