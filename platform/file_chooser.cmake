# The open-file dialog over GTK3. GTK is linked privately so its headers never
# reach the users of this library.
pkg_check_modules(CHOOSER_GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)

add_library(trevolo_file_chooser STATIC ${CMAKE_CURRENT_LIST_DIR}/file_chooser.cpp)
target_include_directories(trevolo_file_chooser PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(trevolo_file_chooser PRIVATE PkgConfig::CHOOSER_GTK3)
