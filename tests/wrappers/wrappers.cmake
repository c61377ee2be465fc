# Tests of the C-callable wrappers, included from tests/CMakeLists.txt.
#   recorded_test: the five families compiled again against recording entity
#     classes (tests/wrappers/fakes) and linked with the real registry.
#   every other *_test.cpp: the wrapper library's static form, the real entity
#     classes and the module simulator.
#   installed_test: installs the library into a temporary prefix, builds
#     c11_client.c against it through pkg-config and runs it on the simulator.
#   c99_caller: a C99 program built with -Werror against the public header
#     and the shared library.
#   readme_test: the README's commands for the C library, run in a fresh shell:
#     they build the library from the sources (hence the longer time limit,
#     and no other test beside it),
#     install it into a temporary prefix and build and run the example program
#     (wrappers/examples), which is also built here with -Werror.
set(MORV_WRAPPER_FAKES_DIR ${CMAKE_CURRENT_SOURCE_DIR}/wrappers/fakes)
file(GLOB MORV_WRAPPER_TESTS CONFIGURE_DEPENDS wrappers/*_test.cpp)
foreach(t ${MORV_WRAPPER_TESTS})
  get_filename_component(n ${t} NAME_WE)
  if(n STREQUAL "recorded_test")
    morv_add_test_program(${t} morvwrappers_registry morvasset ${MORV_DEFAULT_TEST_LIBS})
    target_sources(wrappers_recorded_test PRIVATE ${MORV_WRAPPER_FAMILY_SOURCES}
                   ${MORV_WRAPPER_FAKES_DIR}/FakeEntity.cpp ${MORV_WRAPPER_FAKES_DIR}/FakePackResult.cpp)
    # The recording classes shadow the real entity headers.
    target_include_directories(wrappers_recorded_test BEFORE PRIVATE ${MORV_WRAPPER_FAKES_DIR})
  elseif(n STREQUAL "readme_test")
    # A build of four jobs: alone, so that it takes no time from tests that measure it.
    set(MORV_TEST_TIMEOUT 600)
    set(MORV_TEST_RUN_SERIAL ON)
    morv_add_test_program(${t} morvwrappers_static morvasset ${MORV_DEFAULT_TEST_LIBS})
    unset(MORV_TEST_TIMEOUT)
    unset(MORV_TEST_RUN_SERIAL)
    target_compile_definitions(wrappers_readme_test PRIVATE MORV_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  else()
    morv_add_test_program(${t} morvwrappers_static morvasset ${MORV_DEFAULT_TEST_LIBS})
  endif()
  target_include_directories(wrappers_${n} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/wrappers)
  target_compile_definitions(wrappers_${n} PRIVATE
    MORV_WRAPPERS_HEADER="${MORV_WRAPPERS_INCLUDE_DIR}/morvwrappers.h")
endforeach()
if(TARGET wrappers_abi_test)
  add_dependencies(wrappers_abi_test morvwrappers)
  target_compile_definitions(wrappers_abi_test PRIVATE MORV_WRAPPERS_LIBRARY="$<TARGET_FILE:morvwrappers>")
endif()

add_executable(wrappers_c99_caller wrappers/c99_caller.c)
set_target_properties(wrappers_c99_caller PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_compile_options(wrappers_c99_caller PRIVATE -Wall -Wextra -Wpedantic -Werror)
target_link_libraries(wrappers_c99_caller PRIVATE morvwrappers)
add_test(NAME wrappers.c99_caller COMMAND wrappers_c99_caller)

add_executable(wrappers_example ${PROJECT_SOURCE_DIR}/wrappers/examples/morv_example.c)
set_target_properties(wrappers_example PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_compile_options(wrappers_example PRIVATE -Wall -Wextra -Wpedantic -Werror)
target_link_libraries(wrappers_example PRIVATE morvwrappers)

if(TARGET wrappers_installed_test)
  include(GNUInstallDirs)
  set(MORV_C_CLIENT_FLAGS "")
  if(MORV_SANITIZE)
    set(MORV_C_CLIENT_FLAGS "-fsanitize=address,undefined -fno-omit-frame-pointer")
  elseif(MORV_TSAN)
    set(MORV_C_CLIENT_FLAGS "-fsanitize=thread")
  endif()
  add_dependencies(wrappers_installed_test morvwrappers)
  target_compile_definitions(wrappers_installed_test PRIVATE
    MORV_CMAKE_COMMAND="${CMAKE_COMMAND}"
    MORV_BUILD_DIR="${CMAKE_BINARY_DIR}"
    MORV_C_COMPILER="${CMAKE_C_COMPILER}"
    MORV_C_CLIENT_SOURCE="${CMAKE_CURRENT_SOURCE_DIR}/wrappers/c11_client.c"
    MORV_C_CLIENT_FLAGS="${MORV_C_CLIENT_FLAGS}"
    MORV_INSTALL_LIBDIR="${CMAKE_INSTALL_LIBDIR}"
    MORV_INSTALL_INCLUDEDIR="${CMAKE_INSTALL_INCLUDEDIR}")
endif()
