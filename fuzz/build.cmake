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

# The code under test gives the fuzzer its coverage feedback. These targets
# are defined before this file is read, so they get the flag directly.
set(_dt_fuzz_libs dt_core dt_sim dt_framework_headless dt_serial_memory)
foreach(lib IN LISTS _dt_fuzz_libs)
  target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link)
endforeach()

# CPaintDC (framework/afxwin.h) keeps fields that only the Win32 backend
# reads; clang flags them in the headless window code.

foreach(target fuzz_rx_decoder fuzz_protocols)
  add_executable(${target} fuzz/${target}.cpp)
  target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${target} PRIVATE ${_dt_fuzz_libs} Threads::Threads)
endforeach()
