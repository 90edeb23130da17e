# ravelin_add_qtest(NAME <name> SOURCES <files...> LIBS <targets...> [TIMEOUT <s>])
# Builds one QtTest executable and registers it with CTest. Every test runs
# headless with its own empty HOME, XDG_CONFIG_HOME and TMPDIR below the build
# tree, so no test can touch the real user's settings or files.
function(ravelin_add_qtest)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
  set(home ${CMAKE_BINARY_DIR}/testhome/${T_NAME})
  add_test(NAME ${T_NAME}
           COMMAND ${CMAKE_COMMAND} -E env
             QT_QPA_PLATFORM=offscreen
             HOME=${home}
             XDG_CONFIG_HOME=${home}/config
             XDG_DATA_HOME=${home}/data
             XDG_CACHE_HOME=${home}/cache
             XDG_RUNTIME_DIR=${home}/runtime
             TMPDIR=${home}/tmp
             ${T_ENV}
             ${CMAKE_COMMAND} -DTEST_HOME=${home} -DTEST_EXE=$<TARGET_FILE:${T_NAME}>
               -P ${PROJECT_SOURCE_DIR}/cmake/RunTest.cmake)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()
