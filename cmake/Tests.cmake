# Test executables, one per label. A test file's name says its label:
#   foo_test.cpp              unit (fakes, virtual clock)
#   foo_integration_test.cpp  integration (real HTTP, processes, files; no desktop)
#   foo_<label>_test.cpp      desktop / audio / keyring / browser / wayland (need the headless
#                             session); kde / gnome (need that desktop's session)
find_package(GTest REQUIRED)
include(GoogleTest)

file(GLOB_RECURSE VURIN_TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS tests/support/*.cpp)
# Programs the tests start (each has its own main).
list(FILTER VURIN_TEST_SUPPORT_SOURCES EXCLUDE REGEX "/tests/support/programs/")
# The real desktops' fixtures, for their labels only (they name the programs built below).
list(FILTER VURIN_TEST_SUPPORT_SOURCES EXCLUDE REGEX "/tests/support/(desktop|kde|gnome)_session")
add_library(vurin_test_support OBJECT ${VURIN_TEST_SUPPORT_SOURCES})
target_include_directories(vurin_test_support PUBLIC tests)
target_link_libraries(vurin_test_support PUBLIC vurin_logic GTest::gtest GTest::gmock)
# Stand-in HTTP servers for the integration tests (never linked into the product).
pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
target_link_libraries(vurin_test_support PUBLIC PkgConfig::CPP_HTTPLIB)

# GoogleTest, GoogleMock and JSON are parsed once per target instead of once per test file: on
# two cores this is most of the test build's time.
set(VURIN_TEST_PRECOMPILED_HEADERS <gtest/gtest.h> <gmock/gmock.h> <nlohmann/json.hpp>
    <filesystem> <functional> <memory> <optional> <string> <vector>)
target_precompile_headers(vurin_test_support PRIVATE ${VURIN_TEST_PRECOMPILED_HEADERS})

file(GLOB_RECURSE VURIN_ALL_TESTS CONFIGURE_DEPENDS tests/*_test.cpp)
list(FILTER VURIN_ALL_TESTS EXCLUDE REGEX "/tests/support/")

set(VURIN_SESSION_LABELS desktop audio keyring browser wayland kde gnome)

function(vurin_test_group label sources)
  if(NOT sources)
    return()
  endif()
  add_executable(vurin_${label}_tests ${sources})
  target_link_libraries(vurin_${label}_tests PRIVATE vurin_test_support GTest::gtest_main ${ARGN})
  target_precompile_headers(vurin_${label}_tests PRIVATE ${VURIN_TEST_PRECOMPILED_HEADERS})
  # Unit tests run in parallel; the others share ports, processes, the display, the clipboard
  # and the sound server, so each runs alone.
  set(serial FALSE)
  if(NOT label STREQUAL "unit")
    set(serial TRUE)
  endif()
  if(VURIN_SANITIZE)
    # A sanitized process takes about a second to start, so the sanitized run starts each
    # binary once (in two shards for the unit tests) instead of once per test case.
    set(shards 1)
    if(label STREQUAL "unit")
      set(shards 2)
    endif()
    math(EXPR last_shard "${shards} - 1")
    foreach(shard RANGE ${last_shard})
      add_test(NAME vurin_${label}_tests_shard${shard} COMMAND vurin_${label}_tests)
      set_tests_properties(vurin_${label}_tests_shard${shard} PROPERTIES
        LABELS ${label} RUN_SERIAL ${serial} TIMEOUT 1500
        ENVIRONMENT "GTEST_TOTAL_SHARDS=${shards};GTEST_SHARD_INDEX=${shard}")
    endforeach()
    return()
  endif()
  gtest_discover_tests(vurin_${label}_tests
    PROPERTIES LABELS ${label} RUN_SERIAL ${serial}
    DISCOVERY_TIMEOUT 60
    DISCOVERY_MODE PRE_TEST)
endfunction()

set(unit_sources ${VURIN_ALL_TESTS})
list(FILTER unit_sources EXCLUDE REGEX
     "_(integration|desktop|audio|keyring|browser|wayland|kde|gnome)_test\\.cpp$")
vurin_test_group(unit "${unit_sources}" vurin_platform_evdev)
target_compile_definitions(vurin_test_support PUBLIC VURIN_STAND_IN_DIR="${CMAKE_BINARY_DIR}/stand-ins"
                           VURIN_SCRIPTS_DIR="${CMAKE_SOURCE_DIR}/scripts")
if(NOT VURIN_SESSION_TESTS)
  return()
endif()

set(integration_sources ${VURIN_ALL_TESTS})
list(FILTER integration_sources INCLUDE REGEX "_integration_test\\.cpp$")
vurin_test_group(integration "${integration_sources}")

if(VURIN_BUILD_APP)
  # KWin's fake-input protocol comes with the test packages (plasma-wayland-protocols).
  find_file(VURIN_FAKE_INPUT_XML fake-input.xml PATHS /usr/share/plasma-wayland-protocols
            NO_DEFAULT_PATH)
  foreach(label IN LISTS VURIN_SESSION_LABELS)
    set(group_sources ${VURIN_ALL_TESTS})
    list(FILTER group_sources INCLUDE REGEX "_${label}_test\\.cpp$")
    if(label MATCHES "^(kde|gnome)$" AND group_sources)
      if(label STREQUAL "kde" AND NOT VURIN_FAKE_INPUT_XML)
        message(STATUS "kde tests not built: no fake-input.xml (scripts/install-deps --test)")
        continue()
      endif()
      list(APPEND group_sources tests/support/desktop_session.cpp
           tests/support/${label}_session.cpp)
    endif()
    vurin_test_group(${label} "${group_sources}" vurin_ui_qt vurin_platform)
  endforeach()
endif()

# The desktop tests start the real executable.
foreach(group vurin_desktop_tests vurin_wayland_tests vurin_kde_tests vurin_gnome_tests)
  if(TARGET vurin AND TARGET ${group})
    target_compile_definitions(${group} PRIVATE VURIN_EXECUTABLE="$<TARGET_FILE:vurin>")
    add_dependencies(${group} vurin)
  endif()
endforeach()

# The desktop tests' other application: a clipboard owner and a Qt text field.
if(TARGET vurin_desktop_tests)
  add_executable(vurin_qt_desktop_helper tests/support/programs/qt_desktop_helper.cpp)
  target_link_libraries(vurin_qt_desktop_helper PRIVATE Qt6::Widgets)
  foreach(group vurin_desktop_tests vurin_wayland_tests vurin_kde_tests vurin_gnome_tests)
    if(TARGET ${group})
      target_compile_definitions(${group} PRIVATE
        VURIN_QT_DESKTOP_HELPER="$<TARGET_FILE:vurin_qt_desktop_helper>")
      add_dependencies(${group} vurin_qt_desktop_helper)
    endif()
  endforeach()
endif()

# The real desktops' fixtures run the session's helpers; the KDE one has a program of its own.
foreach(label kde gnome)
  if(TARGET vurin_${label}_tests)
    target_compile_definitions(vurin_${label}_tests PRIVATE
      VURIN_SESSION_SCRIPTS="${CMAKE_SOURCE_DIR}/scripts/session")
  endif()
endforeach()
if(TARGET vurin_kde_tests)
  set(fake_input ${CMAKE_BINARY_DIR}/generated/fake-input)
  file(MAKE_DIRECTORY ${fake_input})
  add_custom_command(OUTPUT ${fake_input}/fake-input-client-protocol.h
                            ${fake_input}/fake-input-protocol.c
    COMMAND ${WAYLAND_SCANNER} client-header ${VURIN_FAKE_INPUT_XML}
            ${fake_input}/fake-input-client-protocol.h
    COMMAND ${WAYLAND_SCANNER} private-code ${VURIN_FAKE_INPUT_XML}
            ${fake_input}/fake-input-protocol.c
    DEPENDS ${VURIN_FAKE_INPUT_XML} VERBATIM)
  add_executable(vurin_kwin_fake_input tests/support/programs/kwin_fake_input.cpp
                 ${fake_input}/fake-input-protocol.c)
  target_include_directories(vurin_kwin_fake_input PRIVATE ${fake_input})
  target_link_libraries(vurin_kwin_fake_input PRIVATE PkgConfig::VURIN_WAYLAND_DEPS)
  target_compile_definitions(vurin_kde_tests PRIVATE
    VURIN_KWIN_FAKE_INPUT="$<TARGET_FILE:vurin_kwin_fake_input>")
  add_dependencies(vurin_kde_tests vurin_kwin_fake_input)
endif()

# Stand-ins for the local model servers (tests and scripts/demo only), named as the real
# programs so the services run them with the real command lines. They are test tools, so they
# are built without sanitizers and start as fast as the real servers' tests need.
set(VURIN_STAND_IN_DIR ${CMAKE_BINARY_DIR}/stand-ins)
foreach(program whisper-server ollama)
  string(REPLACE "-" "_" stem ${program})
  add_executable(vurin_stand_in_${stem} tools/stand_ins/${stem}_stand_in.cpp
                 tools/stand_ins/stand_in_common.cpp)
  set_target_properties(vurin_stand_in_${stem} PROPERTIES
    OUTPUT_NAME ${program} RUNTIME_OUTPUT_DIRECTORY ${VURIN_STAND_IN_DIR})
  target_link_libraries(vurin_stand_in_${stem} PRIVATE PkgConfig::CPP_HTTPLIB
                        nlohmann_json::nlohmann_json Threads::Threads)
  target_compile_options(vurin_stand_in_${stem} PRIVATE -fno-sanitize=all)
  target_link_options(vurin_stand_in_${stem} PRIVATE -fno-sanitize=all)
  foreach(group vurin_integration_tests vurin_desktop_tests vurin_wayland_tests)
    if(TARGET ${group})
      add_dependencies(${group} vurin_stand_in_${stem})
    endif()
  endforeach()
endforeach()
target_compile_definitions(vurin_test_support PUBLIC VURIN_STAND_IN_DIR="${VURIN_STAND_IN_DIR}"
                           VURIN_SCRIPTS_DIR="${CMAKE_SOURCE_DIR}/scripts")

# The tests that read data of their own (kept out of the shared flags so the other tests are not
# rebuilt when it moves).
set_source_files_properties(tests/pipeline/polish_guard_test.cpp PROPERTIES
  COMPILE_DEFINITIONS VURIN_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
