# On-demand screenshots of the main window (not a test):
#   cmake --build build --target main_shots && Xvfb :10 -screen 0 1024x768x24 &
#   LC_ALL=C DISPLAY=:10 build/tests/app/main_shots docs/
add_executable(main_shots EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/main_shots.cpp)
target_link_libraries(main_shots PRIVATE ravelin_mainwindow)
