# ctest's Programs.Built: fails, naming them, when programs the integration tests run are missing
# from the build's bin/ folder, so that those tests are reported not run for that reason instead
# of failing on a process that cannot start.
#   cmake -DBIN_DIR=DIR -DPROGRAMS=a,b,c -P CheckProgramsBuilt.cmake
string(REPLACE "," ";" programs "${PROGRAMS}")
set(missing "")
foreach(program ${programs})
  if(NOT EXISTS "${BIN_DIR}/${program}" OR IS_DIRECTORY "${BIN_DIR}/${program}")
    list(APPEND missing "${BIN_DIR}/${program}")
  endif()
endforeach()
if(missing)
  list(JOIN missing "\n  " text)
  message(FATAL_ERROR "not built:\n  ${text}\nBuild every target first (cmake --build BUILD_DIR); "
                      "the integration tests run these programs.")
endif()
message(STATUS "every program the integration tests run is built in ${BIN_DIR}")
