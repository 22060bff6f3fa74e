# Run by `cmake --install`: writes the desktop entry for the program as it
# is installed now, since the prefix is only known at this moment.
# Needs ORLINTIDE_DESKTOP_TEMPLATE, ORLINTIDE_DESKTOP_WORK and ORLINTIDE_PROGRAM_FOLDER.
set(program "${CMAKE_INSTALL_PREFIX}/${ORLINTIDE_PROGRAM_FOLDER}/orlintide")
# Exec takes a quoted argument: a backslash, quote, dollar sign or backquote is
# escaped with a backslash, which the entry's own string escaping doubles
# again; a percent sign is doubled.
set(quoted "${program}")
string(REPLACE "\\" "\\\\\\\\" quoted "${quoted}")
string(REPLACE "\"" "\\\\\"" quoted "${quoted}")
string(REPLACE "$" "\\\\$" quoted "${quoted}")
string(REPLACE "`" "\\\\`" quoted "${quoted}")
string(REPLACE "%" "%%" quoted "${quoted}")
set(ORLINTIDE_DESKTOP_EXEC "\"${quoted}\"")
configure_file("${ORLINTIDE_DESKTOP_TEMPLATE}" "${ORLINTIDE_DESKTOP_WORK}/orlintide.desktop" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE
  FILES "${ORLINTIDE_DESKTOP_WORK}/orlintide.desktop")
