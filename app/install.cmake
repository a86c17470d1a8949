# `cmake --install BUILD --prefix P`: the player and avtool in P/bin, and what a
# desktop needs to offer the player for .av files: the menu entry, the MIME type,
# the icon at the hicolor theme's sizes and the thumbnailer that has file
# managers show a preview picture. Nothing is written outside P.
include(GNUInstallDirs)

# The two programs are defined after this file is read (app/trevolo.cmake sorts
# after it, avtool lives in tools/), so their rule is added once the whole tree
# has been read.
function(trevolo_install_programs)
  install(TARGETS trevolo avtool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL trevolo_install_programs)

set(TREVOLO_DESKTOP_DIR ${CMAKE_SOURCE_DIR}/res/desktop)
install(FILES ${TREVOLO_DESKTOP_DIR}/trevolo.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TREVOLO_DESKTOP_DIR}/trevolo-av.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
# Read by GNOME Files and the other file managers of the freedesktop
# thumbnailer convention: `avtool thumbnail` draws the preview.
install(FILES ${TREVOLO_DESKTOP_DIR}/trevolo.thumbnailer
  DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)

# The icons in res/icons are drawn by skin_gen --icons.
foreach(size 16 32 48 128 256)
  install(FILES ${CMAKE_SOURCE_DIR}/res/icons/trevolo_${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME trevolo.png)
endforeach()
