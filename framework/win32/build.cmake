# The Windows build: Win32 dialogs and overlapped serial I/O, cross-compiled
# with mingw-w64 (cmake/mingw-*.cmake).
enable_language(RC)

add_library(dt_framework_win32 OBJECT
  framework/win32/window.cpp
  framework/win32/dialog_builder.cpp
  framework/win32/handover.cpp
  framework/win32/file.cpp
  framework/win32/file_dialog.cpp
  framework/win32/system_message.cpp
)
target_include_directories(dt_framework_win32 PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

add_library(dt_serial_win32 OBJECT serial/win32/serial_port.cpp serial/win32/port_discovery.cpp)
target_include_directories(dt_serial_win32 PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

set(DT_WIN32_RESOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ui/win32/download_tool.rc)
set_source_files_properties(${DT_WIN32_RESOURCES} PROPERTIES
  OBJECT_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/ui/win32/download_tool.ico;${CMAKE_CURRENT_SOURCE_DIR}/ui/win32/download_tool.manifest;${CMAKE_CURRENT_SOURCE_DIR}/ui/strings.h;${CMAKE_BINARY_DIR}/generated/dt_version.h")
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_CURRENT_SOURCE_DIR} -I${CMAKE_CURRENT_SOURCE_DIR}/ui/win32 -I${CMAKE_BINARY_DIR}/generated")

set(DT_WIN32_LIBS comctl32 comdlg32 gdi32 user32 kernel32)

add_executable(DownloadTool WIN32
  app/download_app.cpp
  framework/win32/main.cpp
  ${DT_WIN32_RESOURCES}
)
target_link_libraries(DownloadTool PRIVATE dt_core dt_framework_win32 dt_serial_win32 ${DT_WIN32_LIBS})

# download-cli.exe: a console program, the portable command line on the
# headless framework run in real time, with the Win32 serial backend, file
# class and console.
include(tools/cli/build.cmake)
add_executable(download-cli ${DT_CLI_SOURCES}
  tools/cli/win32/console.cpp
  framework/headless/clock.cpp
  framework/headless/window.cpp
  framework/win32/file.cpp
  framework/win32/system_message.cpp
)
target_link_libraries(download-cli PRIVATE dt_core dt_serial_win32 user32 kernel32)

# The Windows test runner: GoogleTest built from Debian's sources, driving
# the real dialog. Run under Wine by tests/win32/run_under_wine.sh.
option(DT_WIN32_TESTS "Build the Windows test runner" ON)
if(DT_WIN32_TESTS AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  file(GLOB DT_WIN32_TEST_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tests/win32/*.cpp)
  add_executable(win32_tests ${DT_WIN32_TEST_SOURCES} ${CMAKE_CURRENT_SOURCE_DIR}/tests/test_data.cpp
                             ${DT_WIN32_RESOURCES})
  target_link_libraries(win32_tests PRIVATE dt_core dt_framework_win32 dt_serial_win32 gtest
                        ${DT_WIN32_LIBS})
endif()
