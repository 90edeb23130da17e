# bench_search: the drive search's walk over a tree beside find -xdev.
add_executable(bench_search search/bench_search.cpp)
target_link_libraries(bench_search PRIVATE ravelin_fileiterator)
