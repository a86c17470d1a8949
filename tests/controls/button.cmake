# CGdipButton, PNG decoding and the resource registry.
add_executable(button_tests
  ${CMAKE_CURRENT_LIST_DIR}/png_decode_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/button_snapshot_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/button_input_test.cpp)
pkg_check_modules(BUTTON_PNG_TEST REQUIRED IMPORTED_TARGET libpng)
target_link_libraries(button_tests PRIVATE trevolo_button PkgConfig::BUTTON_PNG_TEST
  GTest::gtest GTest::gtest_main)
# A small file embedded at build time proves the embedding end to end.
set(BUTTON_EMBED_PROBE ${CMAKE_CURRENT_BINARY_DIR}/42_embed_probe.txt)
file(WRITE ${BUTTON_EMBED_PROBE} "embedded probe\n")
set(BUTTON_SKIN_FILES ${CMAKE_SOURCE_DIR}/res/skin/133_btn_play.png
  ${CMAKE_SOURCE_DIR}/res/skin/139_btn_play_alt.png)
# The play button's artwork is loaded as the main window will load it; the
# skin images are part of the repository, so a missing one stops the build.
foreach(file ${BUTTON_SKIN_FILES})
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "skin image missing: ${file} (rebuild the 'skin' target)")
  endif()
endforeach()
target_compile_definitions(button_tests PRIVATE TREVOLO_SKIN_EMBEDDED=1)
trevolo_embed_resources(button_tests ${BUTTON_EMBED_PROBE} ${BUTTON_SKIN_FILES})
gtest_discover_tests(button_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS controls)
