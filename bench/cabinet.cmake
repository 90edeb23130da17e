# bench_cabinet: ravelin-cab n beside gcab -c -z on ~20 MB from /usr (time,
# size), and the peak memory of a 1 GB build.
if(TARGET ravelin-cab)
  add_executable(bench_cabinet ${CMAKE_CURRENT_LIST_DIR}/cabinet/bench_cabinet.cpp)
  target_compile_definitions(bench_cabinet PRIVATE RAVELIN_CAB="$<TARGET_FILE:ravelin-cab>")
  add_dependencies(bench_cabinet ravelin-cab)
endif()
