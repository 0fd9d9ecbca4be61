# Installing Peloria as a portable folder. The install prefix is the folder:
#
#   cmake --install build --prefix ~/Peloria
#
# puts into it the program, the sample photo, the icon, the desktop entry
# peloria.desktop (its Exec line holds the program's absolute path in that
# folder) and, when asked for, a Peloria.ini. Peloria reads its Peloria.ini
# from, and writes temp.jpg into, the folder it runs from, so the folder must be
# writable by the user who runs it.
#
# Settings, given to CMake when configuring (-D...) or to the install script
# (cmake -DCMAKE_INSTALL_PREFIX=... -D... -P build/cmake_install.cmake):
#   PELORIA_INI               a file to install as Peloria.ini beside the program
#                             (an existing Peloria.ini is replaced); empty: none
#   PELORIA_APPLICATIONS_DIR  also put the desktop entry there, for example
#                             ~/.local/share/applications, so that file managers
#                             and browsers offer Peloria for pictures
#
# This file is read twice: by the project when configuring (the rules below)
# and by the install script, which runs its first part with the final prefix.

if(PELORIA_INSTALLING)
  # Install time: write the desktop entry for the folder the files went to.
  set(_dir "${CMAKE_INSTALL_PREFIX}")
  get_filename_component(_dir "${_dir}" ABSOLUTE)
  set(_program "${_dir}/peloria")
  # Exec quoting of the freedesktop.org desktop entry format: the path goes
  # in double quotes, inside which " ` $ and \ take a backslash; the string
  # level then doubles every backslash, and a field-code "%" is written "%%".
  string(REGEX REPLACE "([\"`$]|\\\\)" "\\\\\\1" _quoted "${_program}")
  string(REPLACE "\\" "\\\\" _quoted "${_quoted}")
  string(REPLACE "%" "%%" _quoted "${_quoted}")
  set(PELORIA_DESKTOP_EXEC "\"${_quoted}\"")
  string(REPLACE "\\" "\\\\" PELORIA_DESKTOP_TRYEXEC "${_program}")
  # The icon by its absolute path, so that the entry needs no icon theme.
  string(REPLACE "\\" "\\\\" PELORIA_DESKTOP_ICON "${_dir}/peloria.svg")
  set(_entry "$ENV{DESTDIR}${_dir}/peloria.desktop")
  message(STATUS "Installing: ${_entry}")
  configure_file("${PELORIA_DESKTOP_TEMPLATE}" "${_entry}" @ONLY)
  if(NOT PELORIA_APPLICATIONS_DIR STREQUAL "")
    file(INSTALL "${_entry}" DESTINATION "$ENV{DESTDIR}${PELORIA_APPLICATIONS_DIR}")
  endif()
  if(NOT PELORIA_INI STREQUAL "")
    if(NOT EXISTS "${PELORIA_INI}" OR IS_DIRECTORY "${PELORIA_INI}")
      message(FATAL_ERROR "PELORIA_INI: no such file: ${PELORIA_INI}")
    endif()
    file(INSTALL "${PELORIA_INI}" DESTINATION "$ENV{DESTDIR}${_dir}" RENAME Peloria.ini)
  endif()
  return()
endif()

set(PELORIA_INI "" CACHE FILEPATH "A file to install as Peloria.ini beside the program")
set(PELORIA_APPLICATIONS_DIR "" CACHE PATH
    "A folder that also receives the desktop entry (e.g. ~/.local/share/applications)")

# The window part goes beside the program, where its run path finds it.
install(TARGETS peloria RUNTIME DESTINATION .)
install(TARGETS peloria_window LIBRARY DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/bin/sample.jpg DESTINATION . OPTIONAL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/icons/peloria.svg DESTINATION .)
# Values given to the install script win over those of the configuration.
install(CODE "
  set(PELORIA_INSTALLING TRUE)
  set(PELORIA_DESKTOP_TEMPLATE [[${CMAKE_CURRENT_LIST_DIR}/peloria.desktop.in]])
  if(NOT DEFINED PELORIA_INI)
    set(PELORIA_INI [[${PELORIA_INI}]])
  endif()
  if(NOT DEFINED PELORIA_APPLICATIONS_DIR)
    set(PELORIA_APPLICATIONS_DIR [[${PELORIA_APPLICATIONS_DIR}]])
  endif()
")
install(SCRIPT ${CMAKE_CURRENT_LIST_FILE})
