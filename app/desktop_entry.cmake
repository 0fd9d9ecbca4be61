# Writes Peloria's desktop entry at install time, for the folder the program
# was installed into. Run by the install script with:
#   PELORIA_DESKTOP_TEMPLATE  the entry's template (peloria.desktop.in)
#   PELORIA_DESKTOP_LAYOUT    "portable": the program, its icon and the entry in
#                             the install prefix itself; "system": the program
#                             in bin/, the icon in the hicolor theme and the
#                             entry in share/applications/ under the prefix
#   PELORIA_APPLICATIONS_DIR  (portable) a further folder for the entry; empty:
#                             none
#   PELORIA_INI               (portable) a file to install as Peloria.ini beside
#                             the program; empty: none

# A value of the desktop entry format's string type: a backslash and the
# control characters that have escapes are written as escapes.
function(desktop_string out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  string(REPLACE "\t" "\\t" text "${text}")
  string(REPLACE "\r" "\\r" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The program as the Exec key's first word. A path holding one of the format's
# reserved characters goes in double quotes, inside which " ` $ and \ take a
# backslash; any other path stays bare, since launchers that split the line on
# blanks (xdg-open's generic fallback) take quotes as part of the name. A "%"
# is written "%%" either way, and the string level comes last.
function(desktop_exec out program)
  if(program MATCHES "[ \t\n\"'\\\\><~|&;$*?#()`]")
    string(REGEX REPLACE "([\"`$]|\\\\)" "\\\\\\1" program "${program}")
    set(program "\"${program}\"")
  endif()
  string(REPLACE "%" "%%" program "${program}")
  desktop_string(program "${program}")
  set(${out} "${program}" PARENT_SCOPE)
endfunction()

get_filename_component(_prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
if(PELORIA_DESKTOP_LAYOUT STREQUAL "system")
  set(_program "${_prefix}/bin/peloria")
  set(_icon "peloria")  # by name, from the hicolor theme
  set(_entry_dir "${_prefix}/share/applications")
else()
  set(_program "${_prefix}/peloria")
  set(_icon "${_prefix}/peloria.svg")  # by path: the folder needs no icon theme
  set(_entry_dir "${_prefix}")
endif()

desktop_exec(PELORIA_DESKTOP_EXEC "${_program}")
desktop_string(PELORIA_DESKTOP_TRYEXEC "${_program}")
desktop_string(PELORIA_DESKTOP_ICON "${_icon}")
set(_entry "$ENV{DESTDIR}${_entry_dir}/peloria.desktop")
message(STATUS "Installing: ${_entry}")
configure_file("${PELORIA_DESKTOP_TEMPLATE}" "${_entry}" @ONLY)

if(PELORIA_DESKTOP_LAYOUT STREQUAL "portable")
  if(NOT PELORIA_APPLICATIONS_DIR STREQUAL "")
    file(INSTALL "${_entry}" DESTINATION "$ENV{DESTDIR}${PELORIA_APPLICATIONS_DIR}")
  endif()
  if(NOT PELORIA_INI STREQUAL "")
    if(NOT EXISTS "${PELORIA_INI}" OR IS_DIRECTORY "${PELORIA_INI}")
      message(FATAL_ERROR "PELORIA_INI: no such file: ${PELORIA_INI}")
    endif()
    file(INSTALL "${PELORIA_INI}" DESTINATION "$ENV{DESTDIR}${_prefix}" RENAME Peloria.ini)
  endif()
endif()
