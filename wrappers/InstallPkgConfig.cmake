# Writes morvwrappers.pc for the prefix cmake --install installs under (given
# when configuring or with --prefix) and installs it beside the library.
# Under /usr and /usr/local its paths are absolute, so pkg-config prints
# /usr/include and the multiarch library directory as they are and leaves out
# the ones the compiler searches anyway. Under any other prefix they are
# relative to the .pc file's own place, so the tree can be moved.
# Run from the install script, which sets CMAKE_INSTALL_PREFIX, with:
#   MORV_PC_TEMPLATE, MORV_PC_OUTPUT_DIR, MORV_WRAPPERS_VERSION, and
#   MORV_PC_LIBDIR, MORV_PC_INCLUDEDIR as GNUInstallDirs gave them (relative
#   to the prefix, or absolute).

# Where a relative install directory lands, written for the .pc file.
function(morv_pc_dir out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "\${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

string(REGEX REPLACE "(.)/+$" "\\1" morv_prefix "${CMAKE_INSTALL_PREFIX}")
if(morv_prefix MATCHES "^/usr(/local)?$" OR IS_ABSOLUTE "${MORV_PC_LIBDIR}")
  set(MORV_PC_PREFIX "${morv_prefix}")
else()
  # As many steps up from <libdir>/pkgconfig as it lies below the prefix.
  file(RELATIVE_PATH morv_up "/root/${MORV_PC_LIBDIR}/pkgconfig" "/root")
  string(REGEX REPLACE "/$" "" morv_up "${morv_up}")
  set(MORV_PC_PREFIX "\${pcfiledir}/${morv_up}")
endif()
morv_pc_dir(MORV_PC_LIBDIR_LINE "${MORV_PC_LIBDIR}")
morv_pc_dir(MORV_PC_INCLUDEDIR_LINE "${MORV_PC_INCLUDEDIR}")
# One file per destination: installs of one build to several prefixes may run at once.
string(MD5 morv_pc_key "$ENV{DESTDIR}|${morv_prefix}")
set(morv_pc_file "${MORV_PC_OUTPUT_DIR}/${morv_pc_key}/morvwrappers.pc")
configure_file("${MORV_PC_TEMPLATE}" "${morv_pc_file}" @ONLY)

if(IS_ABSOLUTE "${MORV_PC_LIBDIR}")
  set(morv_pc_destination "${MORV_PC_LIBDIR}/pkgconfig")
else()
  set(morv_pc_destination "${CMAKE_INSTALL_PREFIX}/${MORV_PC_LIBDIR}/pkgconfig")
endif()
# file(INSTALL) honours DESTDIR and records the file in the install manifest.
file(INSTALL DESTINATION "${morv_pc_destination}" TYPE FILE FILES "${morv_pc_file}")
