# The Windows build for i686: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(DT_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
