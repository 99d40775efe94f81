# The GTK 3 front end: the framework's GTK backend, the Linux program
# download-tool, and the tests that drive its real window. Included from the
# top level (after the POSIX serial backend), so paths are relative to its
# source directory.

find_package(PkgConfig)
if(NOT PKG_CONFIG_FOUND)
  message(STATUS "pkg-config not found: download-tool is not built")
  return()
endif()
pkg_check_modules(DT_GTK IMPORTED_TARGET gtk+-3.0 pangoft2 fontconfig)
if(NOT DT_GTK_FOUND)
  message(STATUS "GTK 3 not found: download-tool is not built")
  return()
endif()

add_library(dt_framework_gtk OBJECT
  ${CMAKE_CURRENT_SOURCE_DIR}/framework/gtk/window.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/framework/gtk/handover.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/framework/gtk/icon.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/framework/gtk/icon_drawing.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/framework/gtk/file_dialog.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/framework/posix/file.cpp
)
target_include_directories(dt_framework_gtk PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(dt_framework_gtk PUBLIC PkgConfig::DT_GTK Threads::Threads)

# The icon files of the desktop's hicolor theme, drawn at build time from
# the picture the window shows. For the package, so not in sanitizer builds.
if(NOT DT_SANITIZE)
add_executable(make-icons
  ${CMAKE_CURRENT_SOURCE_DIR}/framework/gtk/make_icons.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/framework/gtk/icon_drawing.cpp
)
target_include_directories(make-icons PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(make-icons PRIVATE PkgConfig::DT_GTK)
set(DT_ICON_SIZES 16 22 24 32 48 64 128 256)
set(DT_ICON_DIR ${CMAKE_BINARY_DIR}/icons/hicolor)
set(DT_ICON_FILES)
foreach(size IN LISTS DT_ICON_SIZES)
  list(APPEND DT_ICON_FILES ${DT_ICON_DIR}/${size}x${size}/apps/download-tool.png)
endforeach()
add_custom_command(OUTPUT ${DT_ICON_FILES}
  COMMAND make-icons ${DT_ICON_DIR} download-tool ${DT_ICON_SIZES}
  DEPENDS make-icons
  COMMENT "Drawing the application's icon files")
add_custom_target(desktop-icons ALL DEPENDS ${DT_ICON_FILES})
endif()

if(NOT TARGET dt_serial_posix)
  message(STATUS "No POSIX serial backend: download-tool is not built")
  return()
endif()

add_executable(download-tool
  ${CMAKE_CURRENT_SOURCE_DIR}/app/download_app.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/framework/gtk/main.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/framework/gtk/sanitizer_defaults.cpp
)
target_link_libraries(download-tool PRIVATE dt_core dt_framework_gtk dt_serial_posix dt_child_process
                      Threads::Threads)
if(TARGET target-sim)
  add_dependencies(download-tool target-sim)  # --demo runs it from beside the tool
endif()

if(DT_BUILD_TESTS)
  include(GoogleTest)
  file(GLOB DT_GTK_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/gtk/*.cpp)
  add_executable(gtk_tests
    ${DT_GTK_TEST_SOURCES}
      ${CMAKE_CURRENT_SOURCE_DIR}/framework/gtk/sanitizer_defaults.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/test_data.cpp
  )
  target_link_libraries(gtk_tests PRIVATE dt_core dt_framework_gtk dt_serial_posix dt_child_process
                        GTest::gtest
                        Threads::Threads)
  if(TARGET target-sim)
    add_dependencies(gtk_tests target-sim)
    target_compile_definitions(gtk_tests PRIVATE DT_TARGET_SIM="$<TARGET_FILE:target-sim>")
  endif()
  # The program itself, started as a user starts it.
  add_dependencies(gtk_tests download-tool)
  target_compile_definitions(gtk_tests PRIVATE DT_DOWNLOAD_TOOL="$<TARGET_FILE:download-tool>")

  # They need a display: run ctest under xvfb-run -a -s -noreset (the tests
  # run in parallel on one display, which must not reset when one of them
  # leaves). The sanitizers' settings for GTK are built in
  # (sanitizer_defaults.cpp).
  gtest_discover_tests(gtk_tests TEST_PREFIX gtk. DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endif()
