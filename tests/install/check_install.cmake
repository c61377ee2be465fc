# Installs a build, component by component, into fresh staging roots and checks what each
# puts in place:
# - Updater: the program, runnable, and the udev rule, and nothing else; its manifest names
#   exactly those files, so removing what it lists leaves nothing behind;
# - morvwrappers: the library, its header and a .pc file that pkg-config reads as a system
#   library under /usr and /usr/local, and that still points into the tree when a tree
#   installed elsewhere is moved;
# - no component: the two together, so nothing is installed outside a component;
# - GNUInstallDirs: a configure-time prefix /usr gives lib/<multiarch>, any other lib.
# Usage: cmake -DBUILD_DIR=<build> -DSOURCE_DIR=<source> -DSTAGE=<dir> -DRULES_DIR=<rules dir>
#              -DLIBDIR=<libdir> -DINCLUDEDIR=<includedir> -DPKG_CONFIG=<pkg-config>
#              -P check_install.cmake
foreach(var BUILD_DIR SOURCE_DIR STAGE RULES_DIR LIBDIR INCLUDEDIR PKG_CONFIG)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${STAGE}")
file(MAKE_DIRECTORY "${STAGE}")

# Installs one component (ALL: everything) under prefix, staged below root when root is
# given (DESTDIR stages absolute destinations too, so nothing lands outside STAGE); sets
# out to the files below root, relative to it, sorted.
function(morv_install component root prefix out)
  set(command ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
  if(NOT component STREQUAL "ALL")
    list(APPEND command --component ${component})
  endif()
  if(root)
    set(command ${CMAKE_COMMAND} -E env "DESTDIR=${root}" ${command})
  else()
    set(root "${prefix}")
  endif()
  execute_process(COMMAND ${command} RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE error)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${command} failed (${rc}):\n${output}${error}")
  endif()
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${root}" "${root}/*")
  list(SORT files)
  set(${out} "${files}" PARENT_SCOPE)
endfunction()

function(morv_expect_equal what actual expected)
  if(NOT actual STREQUAL expected)
    string(REPLACE ";" "\n  " actual "${actual}")
    string(REPLACE ";" "\n  " expected "${expected}")
    message(FATAL_ERROR "${what}:\n  ${actual}\nexpected:\n  ${expected}")
  endif()
endfunction()

# pkg-config's answer for the .pc files in dir, with no other search path.
function(morv_pkg_config dir out)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=PKG_CONFIG_SYSROOT_DIR "PKG_CONFIG_PATH=${dir}"
                          "PKG_CONFIG_LIBDIR=${dir}" ${PKG_CONFIG} --cflags --libs morvwrappers
                  RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE error)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config in ${dir} failed (${rc}):\n${output}${error}")
  endif()
  string(STRIP "${output}" output)
  set(${out} "${output}" PARENT_SCOPE)
endfunction()

# --- The operator's install: the component Updater, under /usr.
set(prefix /usr)
set(root "${STAGE}/updater")
morv_install(Updater "${root}" ${prefix} updater_files)
if(IS_ABSOLUTE "${RULES_DIR}")
  set(rules "${RULES_DIR}/70-morvasset.rules")
else()
  set(rules "${prefix}/${RULES_DIR}/70-morvasset.rules")
endif()
string(REGEX REPLACE "^/" "" rules_relative "${rules}")
set(expected "usr/bin/Updater;${rules_relative}")
list(SORT expected)
morv_expect_equal("the component Updater installed" "${updater_files}" "${expected}")

# The installed copy runs on its own: help goes to standard error, exit code 0.
set(updater "${root}${prefix}/bin/Updater")
file(MAKE_DIRECTORY "${STAGE}/store")
execute_process(COMMAND "${updater}" -i "${STAGE}/store" -h
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 30)
if(NOT rc EQUAL 0 OR NOT err MATCHES "Application Usage:")
  message(FATAL_ERROR "installed Updater -h gave ${rc}:\n${out}${err}")
endif()

file(STRINGS "${root}${rules}" lines REGEX "^[^#]")
# sysfs writes ids in lower case and udev compares exactly: upper case would never match.
# Every rule gives the device to the local seat's user (uaccess) and to the group plugdev.
set(access "GROUP=\"plugdev\",.*TAG\\+=\"uaccess\"")
set(wanted
  "^SUBSYSTEM==\"usb\", ENV\\{DEVTYPE\\}==\"usb_device\", ATTR\\{idVendor\\}==\"2b9e\", ATTR\\{idProduct\\}==\"\\[0-7\\]\\*\", MODE=\"0664\", ${access}"
  "^KERNEL==\"morvasset\\.\\*\", MODE=\"0660\", ${access}"
  "^SUBSYSTEM==\"usb\", ENV\\{DEVTYPE\\}==\"usb_device\", ATTR\\{idVendor\\}==\"1fc9\", ATTR\\{idProduct\\}==\"0130\", MODE=\"0664\", ${access}"
  "^SUBSYSTEM==\"hidraw\", ATTRS\\{idVendor\\}==\"1fc9\", ATTRS\\{idProduct\\}==\"0130\", MODE=\"0660\", ${access}")
foreach(pattern IN LISTS wanted)
  set(found FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "${pattern}")
      set(found TRUE)
    endif()
  endforeach()
  if(NOT found)
    message(FATAL_ERROR "no rule matching ${pattern} in ${rules}")
  endif()
endforeach()
# Each rule line is key-operator-"value" pairs separated by ", " (the form udev parses).
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^[A-Z_]+(\\{[A-Za-z_]+\\})?(==|\\+=|=)\"[^\"]*\"(, [A-Z_]+(\\{[A-Za-z_]+\\})?(==|\\+=|=)\"[^\"]*\")*$")
    message(FATAL_ERROR "not a well-formed rule in ${rules}: ${line}")
  endif()
endforeach()

# The manifest lists what the install put in place: removing its files (xargs rm < manifest,
# here below the staging root) leaves no file behind.
file(STRINGS "${BUILD_DIR}/install_manifest_Updater.txt" manifest)
list(SORT manifest)
list(TRANSFORM expected PREPEND "/")
morv_expect_equal("install_manifest_Updater.txt" "${manifest}" "${expected}")
foreach(file IN LISTS manifest)
  file(REMOVE "${root}${file}")
endforeach()
file(GLOB_RECURSE left LIST_DIRECTORIES false "${root}/*")
morv_expect_equal("left after removing the manifest's files" "${left}" "")

# --- The C library: the component morvwrappers, under each system prefix.
set(library_files
  "${LIBDIR}/libmorvwrappers.so" "${LIBDIR}/libmorvwrappers.so.1" "${LIBDIR}/libmorvwrappers.so.1.0.0"
  "${LIBDIR}/pkgconfig/morvwrappers.pc" "${INCLUDEDIR}/morvwrappers.h")
list(SORT library_files)
foreach(prefix /usr /usr/local)
  string(REPLACE "/" "_" name "${prefix}")
  set(root "${STAGE}/library${name}")
  morv_install(morvwrappers "${root}" ${prefix} files)
  set(expected "${library_files}")
  string(REGEX REPLACE "^/" "" relative "${prefix}")
  list(TRANSFORM expected PREPEND "${relative}/")
  morv_expect_equal("the component morvwrappers under ${prefix} installed" "${files}" "${expected}")
  # Absolute paths: pkg-config leaves out the directories the compiler searches anyway.
  morv_pkg_config("${root}${prefix}/${LIBDIR}/pkgconfig" flags)
  if(prefix STREQUAL "/usr")
    set(wanted "-lmorvwrappers")
  else()
    set(wanted "-I${prefix}/${INCLUDEDIR} -L${prefix}/${LIBDIR} -lmorvwrappers")
  endif()
  morv_expect_equal("pkg-config --cflags --libs for ${prefix}" "${flags}" "${wanted}")
endforeach()

# Any other prefix: the .pc file finds the tree from its own place, also once it is moved.
set(placed "${STAGE}/placed")
morv_install(morvwrappers "" "${placed}" files)
morv_expect_equal("the component morvwrappers under a prefix of its own installed" "${files}" "${library_files}")
set(moved "${STAGE}/moved")
file(RENAME "${placed}" "${moved}")
set(pcdir "${moved}/${LIBDIR}/pkgconfig")
morv_pkg_config("${pcdir}" flags)
file(RELATIVE_PATH up "/root/${LIBDIR}/pkgconfig" "/root")
string(REGEX REPLACE "/$" "" up "${up}")
morv_expect_equal("pkg-config --cflags --libs after the move" "${flags}"
  "-I${pcdir}/${up}/${INCLUDEDIR} -L${pcdir}/${up}/${LIBDIR} -lmorvwrappers")
foreach(needed "${pcdir}/${up}/${INCLUDEDIR}/morvwrappers.h" "${pcdir}/${up}/${LIBDIR}/libmorvwrappers.so")
  if(NOT EXISTS "${needed}")
    message(FATAL_ERROR "the moved .pc file points at ${needed}, which is not there")
  endif()
endforeach()

# --- Everything: exactly the two components.
set(root "${STAGE}/all")
morv_install(ALL "${root}" /usr files)
list(TRANSFORM library_files PREPEND "usr/" OUTPUT_VARIABLE library_usr)
set(expected "${updater_files};${library_usr}")
list(SORT expected)
morv_expect_equal("a full install installed" "${files}" "${expected}")

# --- Where the library goes: GNUInstallDirs decides when configuring.
foreach(prefix /usr /opt/morv)
  string(REPLACE "/" "_" probe "${STAGE}/configure${prefix}")
  execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${probe}" -G Ninja
                          "-DCMAKE_INSTALL_PREFIX=${prefix}" -DMORV_TESTS=OFF -DMORV_BENCH=OFF
                  RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE error)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "configuring for ${prefix} failed (${rc}):\n${output}${error}")
  endif()
  file(STRINGS "${probe}/CMakeCache.txt" libdir REGEX "^CMAKE_INSTALL_LIBDIR:")
  file(STRINGS "${probe}/CMakeCache.txt" arch REGEX "^CMAKE_LIBRARY_ARCHITECTURE:")
  string(REGEX REPLACE "^[^=]*=" "" libdir "${libdir}")
  string(REGEX REPLACE "^[^=]*=" "" arch "${arch}")
  if(prefix STREQUAL "/usr" AND EXISTS /etc/debian_version AND arch)
    morv_expect_equal("the library directory for a configure-time /usr" "${libdir}" "lib/${arch}")
  elseif(NOT prefix STREQUAL "/usr")
    morv_expect_equal("the library directory for ${prefix}" "${libdir}" "lib")
  endif()
endforeach()
message(STATUS "installed: the component Updater, the component morvwrappers, both")
