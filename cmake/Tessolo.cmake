# Helpers shared by every folder's CMakeLists.
#
# tessolo_library(NAME folder DEPS ...): one static library per subsystem folder,
# built from every .cpp in the folder (sub-folders included). Headers are
# included as "folder/Header.h" from the project root.
function(tessolo_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs)
    # A folder whose code has not arrived yet: headers only.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# tessolo_tests(folder DEPS ...): one GoogleTest program per tests/<folder>,
# every test carrying the CTest label of its folder.
function(tessolo_tests folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  set(exe test_${folder})
  add_executable(${exe} ${srcs})
  target_link_libraries(${exe} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${exe} PRIVATE
    TESSOLO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TESSOLO_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${exe}
    PROPERTIES LABELS ${folder}
    DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()

# tessolo_gui_test(NAME SOURCES ... DEPS ...): a GoogleTest program that needs
# a display. Each of its tests is a CTest test of its own, named
# Suite.Name, that starts a virtual X server of its own (xvfb-run -a), so the
# plain ctest runs it, a failure names the test, and one can run alone; they
# carry the label gui. The tests are read from the sources (TEST and TEST_F
# lines), which cmake reads again when they change. Besides gui, each carries
# the label of the tests/ folder it is made in, as the folder's other tests
# do, and a test that skips itself is counted as skipped. GTK's one-time
# allocations are suppressed for LeakSanitizer by tests/ui/lsan-gtk.supp,
# nothing of ours; a GTK critical warning aborts the program, failing the
# test.
function(tessolo_gui_test name)
  cmake_parse_arguments(ARG "" "SCREEN" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_SCREEN)
    set(ARG_SCREEN 1280x1024)
  endif()
  find_program(TESSOLO_XVFB_RUN xvfb-run)
  find_program(TESSOLO_XDOTOOL xdotool)
  find_program(TESSOLO_IMPORT import)
  # Window tests are tests like the others: a build that cannot make them
  # stops, rather than leaving them out and passing without them. They drive
  # their windows with xdotool, and most look at them with ImageMagick's
  # import.
  if(NOT TESSOLO_XVFB_RUN OR NOT TESSOLO_HAVE_GTK OR NOT TESSOLO_XDOTOOL OR NOT TESSOLO_IMPORT)
    message(FATAL_ERROR "${name} needs xvfb-run, GTK 3, xdotool and import (Debian's packages xvfb, "
                        "libgtk-3-dev, xdotool and imagemagick, which scripts/setup.sh installs)")
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE TESSOLO_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set(cases)
  foreach(src ${ARG_SOURCES})
    get_filename_component(src ${src} ABSOLUTE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${src})
    file(STRINGS ${src} lines REGEX "^TEST(_F)?\\( *[A-Za-z0-9_]+ *, *[A-Za-z0-9_]+ *\\)")
    foreach(line ${lines})
      string(REGEX REPLACE "^TEST(_F)?\\( *([A-Za-z0-9_]+) *, *([A-Za-z0-9_]+) *\\).*" "\\2.\\3" case "${line}")
      list(APPEND cases ${case})
    endforeach()
  endforeach()
  if(NOT cases)
    message(FATAL_ERROR "${name}: no TEST or TEST_F line found in ${ARG_SOURCES}")
  endif()
  set_property(TARGET ${name} PROPERTY TESSOLO_GUI_CASES ${cases})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set_property(TARGET ${name} PROPERTY TESSOLO_GUI_FOLDER ${folder})
  foreach(case ${cases})
    # -noreset: by default the server resets whenever its last client goes,
    # and a program connecting during that reset is refused ("cannot open
    # the X display"). A test that ends one session and starts the next, with
    # nothing else connected in between, met that on a busy machine.
    add_test(NAME ${case}
      COMMAND ${TESSOLO_XVFB_RUN} -a -s "-screen 0 ${ARG_SCREEN}x24 -noreset" $<TARGET_FILE:${name}> --gtest_filter=${case})
    # Real windows race with a loaded machine and with each other's X
    # servers (xvfb-run -a picks a display number by looking): one at a
    # time, alone. A test that skips itself is known by gtest's line for it,
    # as gtest_discover_tests knows it.
    set_tests_properties(${case} PROPERTIES
      LABELS "gui;${folder}"
      SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
      RUN_SERIAL TRUE
      TIMEOUT 300
      ENVIRONMENT "NO_AT_BRIDGE=1;GDK_BACKEND=x11;GSETTINGS_BACKEND=memory;G_DEBUG=fatal-criticals;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/ui/lsan-gtk.supp:print_suppressions=0")
  endforeach()
endfunction()

# tessolo_journey_test(NAME SOURCES ... DEPS ...): whole journeys through
# the real programs, each run like a GUI test (its own CTest test and
# virtual X server, alone) but labelled journey; their screenshots go to the
# build tree's "journeys" folder, which the test output names.
function(tessolo_journey_test name)
  tessolo_gui_test(${name} ${ARGN})
  if(TARGET ${name})
    get_target_property(cases ${name} TESSOLO_GUI_CASES)
    get_target_property(folder ${name} TESSOLO_GUI_FOLDER)
    foreach(case ${cases})
      get_test_property(${case} ENVIRONMENT env)
      # The journeys judge what a user sees and gets; the same programs are
      # checked for leaks by the gui tests. LeakSanitizer's exit-time tracer
      # has crashed under heavy load, failing a journey for nothing.
      set_tests_properties(${case} PROPERTIES
        LABELS "journey;${folder}"
        TIMEOUT 900
        ENVIRONMENT "${env};TESSOLO_JOURNEY_DIR=${PROJECT_BINARY_DIR}/journeys;ASAN_OPTIONS=detect_leaks=0:abort_on_error=1")
    endforeach()
  endif()
endfunction()
