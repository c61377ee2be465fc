# Installs a build into a fresh staging root and checks what an operator needs is there:
# the Updater program, runnable, and the udev rule that lets a non-root user open devices.
# Usage: cmake -DBUILD_DIR=<build> -DSTAGE=<dir> -DRULES_DIR=<relative or absolute> -P check_install.cmake
foreach(var BUILD_DIR STAGE RULES_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${STAGE}")
file(MAKE_DIRECTORY "${STAGE}")
set(prefix /usr)
# DESTDIR stages absolute destinations too, so nothing lands outside STAGE.
execute_process(COMMAND ${CMAKE_COMMAND} -E env "DESTDIR=${STAGE}"
                        ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}${err}")
endif()

set(updater "${STAGE}${prefix}/bin/Updater")
if(NOT EXISTS "${updater}")
  message(FATAL_ERROR "no Updater at ${updater}; installed:\n${out}")
endif()
# The installed copy runs on its own: help goes to standard error, exit code 0.
file(MAKE_DIRECTORY "${STAGE}/store")
execute_process(COMMAND "${updater}" -i "${STAGE}/store" -h
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 30)
if(NOT rc EQUAL 0 OR NOT err MATCHES "Application Usage:")
  message(FATAL_ERROR "installed Updater -h gave ${rc}:\n${out}${err}")
endif()

if(IS_ABSOLUTE "${RULES_DIR}")
  set(rules "${STAGE}${RULES_DIR}/70-morvasset.rules")
else()
  set(rules "${STAGE}${prefix}/${RULES_DIR}/70-morvasset.rules")
endif()
if(NOT EXISTS "${rules}")
  message(FATAL_ERROR "no udev rules at ${rules}; installed:\n${out}")
endif()
file(STRINGS "${rules}" lines REGEX "^[^#]")
# sysfs writes ids in lower case and udev compares exactly: upper case would never match.
set(wanted
  "SUBSYSTEM==\"usb\",.*ATTR\\{idVendor\\}==\"2b9e\",.*TAG\\+=\"uaccess\""
  "SUBSYSTEM==\"usb\",.*ATTR\\{idVendor\\}==\"1fc9\", ATTR\\{idProduct\\}==\"0130\",.*TAG\\+=\"uaccess\""
  "SUBSYSTEM==\"hidraw\",.*ATTRS\\{idVendor\\}==\"1fc9\", ATTRS\\{idProduct\\}==\"0130\",.*TAG\\+=\"uaccess\"")
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
message(STATUS "installed: ${updater}, ${rules}")
