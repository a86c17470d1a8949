# The installed player as a desktop sees it: `cmake --install` of this build
# tree into a temporary prefix (the programs must have been built first), and
# the icons in res/icons against what skin_gen draws.
add_test(NAME install_desktop_integration
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_test.sh install ${CMAKE_COMMAND}
    ${CMAKE_BINARY_DIR})
set_tests_properties(install_desktop_integration PROPERTIES
  LABELS install
  REQUIRED_FILES "$<TARGET_FILE:trevolo>;$<TARGET_FILE:avtool>"
  # Installing writes install_manifest.txt into the build tree.
  RESOURCE_LOCK trevolo_install_manifest
  TIMEOUT 120)

add_test(NAME install_icons_match_generator
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_test.sh icons $<TARGET_FILE:skin_gen>
    ${CMAKE_SOURCE_DIR})
set_tests_properties(install_icons_match_generator PROPERTIES
  LABELS install
  REQUIRED_FILES $<TARGET_FILE:skin_gen>
  TIMEOUT 60)
