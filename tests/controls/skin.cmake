# The skin images in res/skin: sizes, alpha, the thumbs' key colour, and that
# skin_gen redraws exactly the files kept in the repository.
if(NOT TARGET skin_gen)
  message(FATAL_ERROR "skin_tests need skin_gen (tools/media/skin_gen.cmake)")
endif()
find_package(PNG REQUIRED)
add_executable(skin_tests ${CMAKE_CURRENT_LIST_DIR}/skin_test.cpp)
target_link_libraries(skin_tests PRIVATE PNG::PNG GTest::gtest GTest::gtest_main)
target_compile_definitions(skin_tests PRIVATE
  SKIN_GEN_PATH="$<TARGET_FILE:skin_gen>"
  TREVOLO_SKIN_DIR="${CMAKE_SOURCE_DIR}/res/skin")
add_dependencies(skin_tests skin_gen)
gtest_discover_tests(skin_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS controls)
