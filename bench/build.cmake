# Micro-benchmarks of the serial codecs (Google Benchmark). Not part of the
# test run; build in a Release directory of its own:
#   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DDT_BENCH=ON -DDT_BUILD_TESTS=OFF
#   cmake --build build/bench --target codec_bench && build/bench/codec_bench
find_package(benchmark REQUIRED)

add_executable(codec_bench bench/codec_bench.cpp)
target_link_libraries(codec_bench PRIVATE dt_core dt_sim dt_framework_headless dt_serial_memory
                      benchmark::benchmark Threads::Threads)
