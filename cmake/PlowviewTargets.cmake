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
endfunction()

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
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 30
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT}
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen;PLOWVIEW_BIN=${PROJECT_BINARY_DIR}/bin")
endfunction()
