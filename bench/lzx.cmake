# bench_lzx: ravelin-cab n -m lzx beside gcab -c -z on bench_cabinet's
# ~20 MB from /usr (median wall and CPU time, size), and the peak memory of
# a 1 GB build at lzx:21.
if(TARGET ravelin-cab)
  add_executable(bench_lzx ${CMAKE_CURRENT_LIST_DIR}/lzx/bench_lzx.cpp)
  target_compile_definitions(bench_lzx PRIVATE RAVELIN_CAB="$<TARGET_FILE:ravelin-cab>")
  add_dependencies(bench_lzx ravelin-cab)
endif()
