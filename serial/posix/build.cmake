# The POSIX serial backend, the simulated machine on a pseudo-terminal, and
# the tests that join them. Included from the top level, so paths are
# relative to its source directory.

# termios tty devices behind serial/serial_port.h.
add_library(dt_serial_posix OBJECT ${CMAKE_CURRENT_SOURCE_DIR}/serial/posix/serial_port.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/serial/posix/port_discovery.cpp)
target_include_directories(dt_serial_posix PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(dt_serial_posix PUBLIC Threads::Threads)

# target-sim: the simulated machine serving a pseudo-terminal. It needs the
# machine model and the machine type table, nothing of the tool itself.
add_executable(target-sim
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/target_sim/posix/main.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/target_sim/posix/pty_server.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/image/machine_types.cpp
)
target_link_libraries(target-sim PRIVATE dt_sim)

# Starting target-sim (or any helper that names itself on its first line)
# from another program: the window's --demo and the tests.
add_library(dt_child_process OBJECT ${CMAKE_CURRENT_SOURCE_DIR}/tools/target_sim/posix/child_process.cpp)
target_include_directories(dt_child_process PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

if(DT_BUILD_TESTS)
  include(GoogleTest)
  file(GLOB DT_POSIX_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/posix/*.cpp)
  add_executable(posix_tests ${DT_POSIX_TEST_SOURCES}
                ${CMAKE_CURRENT_SOURCE_DIR}/tests/test_data.cpp)
  target_link_libraries(posix_tests PRIVATE dt_core dt_sim dt_framework_headless dt_serial_posix
                        dt_child_process
                        GTest::gtest GTest::gtest_main Threads::Threads util)
  # The whole-download tests run the simulator as a child process.
  add_dependencies(posix_tests target-sim)
  target_compile_definitions(posix_tests PRIVATE TARGET_SIM_PATH="$<TARGET_FILE:target-sim>")
  gtest_discover_tests(posix_tests TEST_PREFIX posix. DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endif()
