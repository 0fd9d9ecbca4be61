# Installing Peloria: a portable folder, or a Debian package.
#
# A portable folder is what `cmake --install` makes; the install prefix is the
# folder:
#
#   cmake --install build --prefix ~/Peloria
#
# puts into it the program, the sample photo, the icon, the desktop entry
# peloria.desktop (its Exec line holds the program's absolute path in that
# folder) and, when asked for, a Peloria.ini. When the user may write the
# folder, Peloria reads its Peloria.ini from it and writes temp.jpg into it;
# otherwise it uses the user's cache and configuration folders.
#
# Settings, given to CMake when configuring (-D...) or to the install script
# (cmake -DCMAKE_INSTALL_PREFIX=... -D... -P build/cmake_install.cmake):
#   PELORIA_INI               a file to install as Peloria.ini beside the program
#                             (an existing Peloria.ini is replaced); empty: none
#   PELORIA_APPLICATIONS_DIR  also put the desktop entry there, for example
#                             ~/.local/share/applications, so that file managers
#                             and browsers offer Peloria for pictures
#
# The Debian package (`cpack --config build/CPackConfig.cmake`, or the target
# "package") installs the "system" component, which a plain install leaves
# out: /usr/bin/peloria, /usr/share/applications/peloria.desktop, the icon in
# the hicolor theme, the AppStream entry, the manual page, the package's
# documents, and the browser extension with its host (host/install.cmake). Its dependencies come from
# dpkg-shlibdeps, plus the run-time plugins that no library links.

set(PELORIA_INI "" CACHE FILEPATH "A file to install as Peloria.ini beside the program")
set(PELORIA_APPLICATIONS_DIR "" CACHE PATH
    "A folder that also receives the desktop entry (e.g. ~/.local/share/applications)")
set(_desktop_entry_script ${CMAKE_CURRENT_LIST_DIR}/desktop_entry.cmake)
set(_desktop_template ${CMAKE_CURRENT_LIST_DIR}/peloria.desktop.in)

# The portable folder. Values given to the install script win over those of
# the configuration.
# The window and print parts go beside the program, where it finds them.
install(TARGETS peloria RUNTIME DESTINATION . COMPONENT portable)
install(TARGETS peloria_window peloria_print LIBRARY DESTINATION . COMPONENT portable)
install(FILES ${CMAKE_BINARY_DIR}/bin/sample.jpg DESTINATION . OPTIONAL COMPONENT portable)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/icons/peloria.svg DESTINATION . COMPONENT portable)
install(CODE "
  set(PELORIA_DESKTOP_LAYOUT portable)
  set(PELORIA_DESKTOP_TEMPLATE [[${_desktop_template}]])
  if(NOT DEFINED PELORIA_INI)
    set(PELORIA_INI [[${PELORIA_INI}]])
  endif()
  if(NOT DEFINED PELORIA_APPLICATIONS_DIR)
    set(PELORIA_APPLICATIONS_DIR [[${PELORIA_APPLICATIONS_DIR}]])
  endif()
  include([[${_desktop_entry_script}]])
" COMPONENT portable)

# The system layout of the Debian package.
install(TARGETS peloria RUNTIME DESTINATION bin COMPONENT system EXCLUDE_FROM_ALL)
# A private library folder for the window and print parts.
install(TARGETS peloria_window peloria_print LIBRARY DESTINATION lib/peloria COMPONENT system
        EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/icons/peloria.svg
        DESTINATION share/icons/hicolor/scalable/apps COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/package/lintian-overrides DESTINATION share/lintian/overrides
        RENAME peloria COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/package/example.peloria.Peloria.metainfo.xml
        DESTINATION share/metainfo COMPONENT system EXCLUDE_FROM_ALL)
configure_file(${CMAKE_CURRENT_LIST_DIR}/package/changelog
               ${CMAKE_CURRENT_BINARY_DIR}/package/changelog @ONLY)
install(CODE "
  set(PELORIA_DESKTOP_LAYOUT system)
  set(PELORIA_DESKTOP_TEMPLATE [[${_desktop_template}]])
  include([[${_desktop_entry_script}]])
  # Debian keeps a package's change log compressed in its documents.
  set(_doc \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/doc/peloria\")
  file(MAKE_DIRECTORY \"\${_doc}\")
  file(COPY_FILE [[${CMAKE_CURRENT_LIST_DIR}/package/copyright]] \"\${_doc}/copyright\")
  # gzip -n keeps no time stamp, so that the package is the same for the
  # same sources.
  execute_process(COMMAND gzip -9nc [[${CMAKE_CURRENT_BINARY_DIR}/package/changelog]]
                  OUTPUT_FILE \"\${_doc}/changelog.gz\" COMMAND_ERROR_IS_FATAL ANY)
  # The manual page, compressed as Debian keeps them.
  set(_man \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/man/man1\")
  file(MAKE_DIRECTORY \"\${_man}\")
  execute_process(COMMAND gzip -9nc [[${CMAKE_CURRENT_LIST_DIR}/package/peloria.1]]
                  OUTPUT_FILE \"\${_man}/peloria.1.gz\" COMMAND_ERROR_IS_FATAL ANY)
" COMPONENT system EXCLUDE_FROM_ALL)

# The browser extension and its native messaging host.
include(${PROJECT_SOURCE_DIR}/host/install.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME peloria)
set(CPACK_PACKAGE_VENDOR "Peloria maintainers")
set(CPACK_PACKAGE_CONTACT "Peloria maintainers <maintainers@users.noreply.c-seed-93e448af.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "photo viewer with the shooting data and a histogram")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Peloria shows one picture, given as a path, a file address or a web
address, as a thumbnail beside a Japanese summary of its Exif shooting data
(F-number, shutter speed, exposure bias, ISO speed, focal length, white
balance, exposure mode, size, date and camera model). A click on the
thumbnail draws its red, green, blue or brightness histogram.")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no library dependency names them: the SVG plugin
# that draws the icon (by Qt), libheif, libtiff and libjxl (by Peloria at the
# first HEIF, AVIF, TIFF or JPEG XL file); the fonts whose columns the summary
# needs, and the Wayland display plugin.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, libheif1, libtiff6, libjxl0.7")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PELORIA_PACKAGE_CONTROL_EXTRA})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Staged with DESTDIR and the prefix /usr, so that the desktop entry names the
# installed program.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL system)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
