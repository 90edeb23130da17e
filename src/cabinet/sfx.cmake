# The self-extracting join lives in its own widget-free library (the command
# line uses it too); the cabinet windows link it.
add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/sfx ${CMAKE_BINARY_DIR}/src/cabinet/sfx)
target_link_libraries(ravelin_cabinet PUBLIC ravelin_sfx)
