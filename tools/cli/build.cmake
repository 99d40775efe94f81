# download-cli: the core without a window, on the headless framework run in
# real time, with the POSIX serial backend.
add_executable(download-cli
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli/main.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli/cli_options.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli/unit.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli/sha256.cpp
)
target_link_libraries(download-cli PRIVATE dt_core dt_framework_headless dt_serial_posix
                      Threads::Threads)
