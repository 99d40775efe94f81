# Benchmarks; not part of the test run. Build in a Release tree of its own:
#   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DDT_BENCH=ON -DDT_BUILD_TESTS=OFF
#   cmake --build build/bench --target benchmarks
# which builds and runs both; bench/README.md has the figures.

# Micro-benchmarks of the serial codecs (Google Benchmark).
find_package(benchmark REQUIRED)
add_executable(codec_bench bench/codec_bench.cpp)
target_link_libraries(codec_bench PRIVATE dt_core dt_sim dt_framework_headless dt_serial_memory
                      benchmark::benchmark Threads::Threads)
set(DT_BENCH_RUNS COMMAND codec_bench)

# Whole downloads: download-cli against target-sim over pseudo-terminals,
# and lrzsz's XMODEM on the same bytes.
if(TARGET download-cli AND TARGET target-sim)
  add_executable(e2e_bench bench/posix/e2e_bench.cpp bench/posix/e2e_run.cpp
                           bench/posix/lrzsz_run.cpp bench/posix/relay.cpp
                           tools/target_sim/posix/pty_server.cpp
                           image/unscramble.cpp
                           image/stored_image.cpp
                           image/machine_types.cpp)
  target_include_directories(e2e_bench PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(e2e_bench PRIVATE dt_child_process Threads::Threads)
  add_dependencies(e2e_bench download-cli target-sim)
  target_compile_definitions(e2e_bench PRIVATE TARGET_SIM_PATH="$<TARGET_FILE:target-sim>"
                             DOWNLOAD_CLI_PATH="$<TARGET_FILE:download-cli>")
  list(APPEND DT_BENCH_RUNS COMMAND e2e_bench)
endif()

add_custom_target(benchmarks ${DT_BENCH_RUNS} USES_TERMINAL
                  WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
