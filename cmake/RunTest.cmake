# Runs one test executable in a freshly emptied home folder.
file(REMOVE_RECURSE ${TEST_HOME})
file(MAKE_DIRECTORY ${TEST_HOME}/config ${TEST_HOME}/data ${TEST_HOME}/cache ${TEST_HOME}/tmp ${TEST_HOME}/runtime)
file(CHMOD ${TEST_HOME}/runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
execute_process(COMMAND ${TEST_EXE} WORKING_DIRECTORY ${TEST_HOME} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${TEST_EXE} failed: ${rc}")
endif()
