# Helpers that keep each folder's CMakeLists short: a library per folder, sources found by
# glob (CONFIGURE_DEPENDS, so a new file needs no CMake edit), tests per folder.

# plowview_library(NAME DIR [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
function(plowview_library name)
  cmake_parse_arguments(ARG "" "" "PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  list(FILTER sources INCLUDE REGEX "\\.cpp$")
  if(NOT sources)
    # A folder whose code is still to come: an interface target keeps its dependents linking.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_PUBLIC_LIBS})
    return()
  endif()
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_library(${name} STATIC ${sources} ${headers})
  # With Ninja, AUTOMOC reruns only when a file it already knows of changes, so a header that a
  # glob has just found would never be mocced. When the header list changes, drop the autogen
  # time stamp so that the next build runs AUTOMOC again.
  set(header_list_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_moc_headers.txt)
  set(old_headers "")
  if(EXISTS ${header_list_file})
    file(READ ${header_list_file} old_headers)
  endif()
  if(NOT old_headers STREQUAL "${headers}")
    file(WRITE ${header_list_file} "${headers}")
    file(REMOVE ${CMAKE_CURRENT_BINARY_DIR}/${name}_autogen/timestamp)
  endif()
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  plowview_unity_batches(${name})
endfunction()

# Test suites that ctest leaves out: measurements (a suite named ...Bench, run by scripts/bench)
# and the pictures of the windows (...Screenshots, run by scripts/screenshots). They stay in the
# test executables, so they build and run against the same code.
set(PLOWVIEW_CTEST_FILTER "-*Bench.*:*Screenshots.*")

# plowview_tests(NAME [GUI] [LIBS ...] [LABEL label] [TIMEOUT seconds] [PATTERN glob])
# One GoogleTest executable from the matching files of the current folder, every test
# registered with ctest at test time (so GUI tests discover on the offscreen platform too).
function(plowview_tests name)
  cmake_parse_arguments(ARG "GUI" "LABEL;TIMEOUT;PATTERN" "LIBS" ${ARGN})
  if(NOT ARG_PATTERN)
    set(ARG_PATTERN "*_test.cpp")
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 60)
  endif()
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_PATTERN})
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
  if(ARG_GUI)
    set(test_main plowview_test_main_gui)
  else()
    set(test_main plowview_test_main_core)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} plowview_testsupport ${test_main} GTest::gmock GTest::gtest)
  target_compile_definitions(${name} PRIVATE
    PLOWVIEW_BINARY_DIR="${PROJECT_BINARY_DIR}" PLOWVIEW_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  plowview_test_compile_options(${name})
  set(fixtures "")
  # ctest -j starts the costliest tests first. Before a build folder has timings of its own, an
  # integration test (seconds of waiting on programs and channels) counts as costlier than a unit
  # test, so the long ones do not start last and leave the run waiting on them alone.
  set(cost 1)
  if(ARG_LABEL STREQUAL "integration")
    plowview_tests_run_programs(${name})
    set(fixtures FIXTURES_REQUIRED plowview_programs)
    set(cost 10)
  endif()
  set(environment "QT_QPA_PLATFORM=offscreen;PLOWVIEW_BIN=${PROJECT_BINARY_DIR}/bin")
  if(PLOWVIEW_SANITIZE AND NOT ARG_LABEL STREQUAL "integration")
    # Under the sanitizers a process takes about half a second to start and end, more than most
    # unit tests take: a unit or widget test executable runs as one ctest test, all its cases in
    # one process (ten times faster). GoogleTest still names each failing case.
    add_test(NAME ${name} COMMAND ${name} --gtest_filter=${PLOWVIEW_CTEST_FILTER})
    set_tests_properties(${name} PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 600 COST 5 ENVIRONMENT "${environment}")
    return()
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 30
    TEST_FILTER ${PLOWVIEW_CTEST_FILTER}
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT} COST ${cost} ${fixtures}
               ENVIRONMENT "${environment}")
endfunction()

# Files compiled on their own instead of in a batch (paths from the project's root); none at
# present. In a batch the files of a target share one translation unit, so their file-local
# helpers (in an anonymous namespace) share one scope: a helper needs a name no other file of its
# target uses, else the batch fails with "redefinition of" or "ambiguous", or worse, a call picks
# the other file's overload. Give such a helper a name that says what it does in its file, or move
# a true duplicate into a shared test-support header. List a file here only for what renaming
# cannot mend, such as a compiler's false warning that shows only when the file is inlined with
# others.
set(PLOWVIEW_SEPARATE_FILES)

# plowview_unity_batches(TARGET): TARGET compiles its files in batches of eight (a unity build).
# Most of a file's compile time is the standard library's, Qt's and GoogleTest's headers and the
# template code they instantiate, the same in every file of a target: in a batch that cost is
# paid once, which makes the build two to three times faster.
function(plowview_unity_batches name)
  if(NOT PLOWVIEW_UNITY_BUILD)
    return()
  endif()
  set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  get_target_property(sources ${name} SOURCES)
  foreach(source ${sources})
    file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${source})
    if(relative IN_LIST PLOWVIEW_SEPARATE_FILES)
      set_source_files_properties(${source} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
    endif()
  endforeach()
endfunction()

# plowview_test_compile_options(TARGET): how a test executable compiles: in batches, and in the
# RelWithDebInfo and sanitizer builds with only line tables for debug information (-g1): a
# failure's backtrace and a sanitizer's report still name the lines, at a tenth to a quarter less
# compile time (a plain Debug build keeps full -g for the debugger). In the RelWithDebInfo build
# the test code is compiled at -O1, a quarter faster than -O2: the code under test is the
# libraries', which keep the build's own flags.
function(plowview_test_compile_options name)
  plowview_unity_batches(${name})
  if(PLOWVIEW_SANITIZE)
    target_compile_options(${name} PRIVATE -g1)
  endif()
  target_compile_options(${name} PRIVATE "$<$<CONFIG:RelWithDebInfo>:-O1;-g1>")
endfunction()

# plowview_tests_run_programs(TARGET): TARGET's tests run the programs (PLOWVIEW_TESTED_PROGRAMS,
# tests/CMakeLists.txt): building TARGET builds them too.
function(plowview_tests_run_programs name)
  foreach(program ${PLOWVIEW_TESTED_PROGRAMS})
    if(TARGET ${program})
      add_dependencies(${name} ${program})
    endif()
  endforeach()
endfunction()
