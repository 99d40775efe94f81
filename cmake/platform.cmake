# dt_add_platform_folders(): in a folder's CMakeLists.txt, adds those of its
# platform folders (posix/, gtk/, win32/) that this build takes
# (DT_PLATFORMS, set at the top) and that it has.
macro(dt_add_platform_folders)
  foreach(platform IN LISTS DT_PLATFORMS)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${platform}/CMakeLists.txt)
      add_subdirectory(${platform})
    endif()
  endforeach()
endmacro()
