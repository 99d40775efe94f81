# libFuzzer targets: the receive worker's hand-over rules, and both download
# protocols driven through the main dialog on the headless framework.
#
# Clang only, in a build directory of their own:
#   cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DDT_FUZZ=ON \
#         -DDT_SANITIZE=address,undefined -DDT_BUILD_TESTS=OFF
# scripts/fuzz.sh does this and runs each target on its seed corpus.
if(NOT DT_FUZZ)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(WARNING "DT_FUZZ needs Clang (libFuzzer); the fuzz targets are not built")
  return()
endif()

# The serial backend of the protocol fuzzer: no worker thread, the fuzzer
# reads for the worker (fuzz/direct_serial.h).
add_library(dt_serial_direct OBJECT fuzz/direct_serial.cpp)
target_include_directories(dt_serial_direct PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

# The headless framework with its files in memory (fuzz/memory_files.h)
# instead of on the disk: Load File without a system call.
get_target_property(_dt_headless_sources dt_framework_headless SOURCES)
list(FILTER _dt_headless_sources EXCLUDE REGEX "framework/posix/file\\.cpp$")
add_library(dt_framework_fuzz OBJECT ${_dt_headless_sources} fuzz/memory_files.cpp)
target_include_directories(dt_framework_fuzz PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

# The code under test gives the fuzzer its coverage feedback; the
# framework and the serial backend it runs on are the test bench, whose
# branches would only add noise to that feedback and cost time.
set(_dt_fuzz_libs dt_core dt_framework_fuzz dt_serial_direct)
target_compile_options(dt_core PRIVATE -fsanitize=fuzzer-no-link)
set_source_files_properties(framework/cwnd.cpp TARGET_DIRECTORY dt_core PROPERTIES
                            COMPILE_OPTIONS "-fno-sanitize=fuzzer-no-link")

# Unscrambling walks up to 128 kB each Load File, one add a byte, with no
# branch of its own to tell the fuzzer anything. Instrumented for coverage
# and UndefinedBehaviorSanitizer it would cost more than all the rest of an
# input, so it keeps AddressSanitizer only: its bounds are checked still.
set_source_files_properties(image/unscramble.cpp TARGET_DIRECTORY dt_core PROPERTIES
                            COMPILE_OPTIONS "-fno-sanitize=undefined;-fno-sanitize=fuzzer-no-link")

add_executable(fuzz_rx_decoder fuzz/fuzz_rx_decoder.cpp)
add_executable(fuzz_protocols fuzz/fuzz_protocols.cpp)
foreach(target fuzz_rx_decoder fuzz_protocols)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${target} PRIVATE ${_dt_fuzz_libs} Threads::Threads)
endforeach()
# The decoder's target holds an independent model of its rules, whose
# branches are worth feedback too. The protocol target's checks run after
# every step, over every frame; instrumented they would cost more than the
# dialog's handlers they check, and say nothing the handlers' own coverage
# does not.
target_compile_options(fuzz_rx_decoder PRIVATE -fsanitize=fuzzer)
