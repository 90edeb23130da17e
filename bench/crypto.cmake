# bench_crypto: TBlowFish file to file on 100 MB beside openssl enc -bf-ecb.
if(TARGET ravelin_crypto)
  add_executable(bench_crypto ${CMAKE_CURRENT_LIST_DIR}/crypto/bench_crypto.cpp)
  target_link_libraries(bench_crypto PRIVATE ravelin_crypto Qt6::Core)
endif()
