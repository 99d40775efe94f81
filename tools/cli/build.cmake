# download-cli: the core without a window, on the headless framework run in
# real time. The portable sources; the platform's console.cpp and serial
# backend are added by the platform's build (posix here, win32 in
# framework/win32/build.cmake).
set(DT_CLI_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli/main.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli/cli_options.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli/interrupts.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli/json.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli/list_ports.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli/unit.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli/report.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli/sha256.cpp
)
if(WIN32)
  return()
endif()

add_executable(download-cli ${DT_CLI_SOURCES}
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli/posix/console.cpp)
target_link_libraries(download-cli PRIVATE dt_core dt_framework_headless dt_serial_posix
                      Threads::Threads)

if(DT_BUILD_TESTS)
  include(GoogleTest)
  # The built program against target-sim child processes. The helpers that
  # run target-sim are the POSIX tests' own; the image files are written
  # with the machine type table and the scrambling of the core.
  add_executable(cli_tests
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/cli/posix/cli_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/cli/posix/cli_process.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/cli/posix/info_options_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli/list_ports.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli/json.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/posix/posix_support.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/test_data.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/image/machine_types.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/image/unscramble.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/image/stored_image.cpp
  )
  target_include_directories(cli_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(cli_tests PRIVATE dt_child_process GTest::gtest GTest::gtest_main Threads::Threads util)
  add_dependencies(cli_tests download-cli target-sim)
  target_compile_definitions(cli_tests PRIVATE
    DOWNLOAD_CLI_PATH="$<TARGET_FILE:download-cli>"
    TARGET_SIM_PATH="$<TARGET_FILE:target-sim>")
  gtest_discover_tests(cli_tests TEST_PREFIX cli. DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endif()
