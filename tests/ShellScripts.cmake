# Runs shellcheck on every shell script of the source tree: each file outside the build trees
# and the fuzz corpora whose first line starts sh, dash or bash (scripts/*.sh, the boot helpers,
# the GRUB script and the maintainer scripts among them). -DSOURCE=the source tree.
file(GLOB_RECURSE candidates LIST_DIRECTORIES false
     ${SOURCE}/.ci/* ${SOURCE}/scripts/* ${SOURCE}/tools/* ${SOURCE}/tests/*)
set(scripts)
foreach(candidate ${candidates})
  if(candidate MATCHES "/tests/fuzz/")
    continue()
  endif()
  file(STRINGS ${candidate} first LIMIT_COUNT 1 LIMIT_INPUT 128)
  if(first MATCHES "^#!(/usr)?/bin/(env )?(sh|dash|bash)( |$)")
    list(APPEND scripts ${candidate})
  endif()
endforeach()
list(LENGTH scripts count)
if(count EQUAL 0)
  message(FATAL_ERROR "no shell scripts found below ${SOURCE}")
endif()
message(STATUS "shellcheck on ${count} scripts")
execute_process(COMMAND shellcheck ${scripts} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "shellcheck found problems")
endif()
