# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the manifest of the shipped rules, dated by the build: SOURCE_DATE_EPOCH when the build
# sets it; else, when the shipped rule files and their template have no uncommitted change, the time
# of their last commit, so that two builds of one revision give the same manifest; else (the tool's
# own fallback) the time of this build.
# Run with -P and: PUBLISHER, SOURCE_DIR, RULES (the shipped rule folder), OWN (our own providers),
# EXCEPTIONS (ours to the filter list), TEMPLATE, BUNDLE, OUTPUT.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  find_program(GIT_PROGRAM git)
  if(GIT_PROGRAM)
    execute_process(COMMAND ${GIT_PROGRAM} -C ${SOURCE_DIR} status --porcelain -- ${RULES} ${OWN} ${EXCEPTIONS} ${TEMPLATE}
                    RESULT_VARIABLE status_result OUTPUT_VARIABLE changes ERROR_QUIET)
    execute_process(COMMAND ${GIT_PROGRAM} -C ${SOURCE_DIR} log -1 --format=%ct -- ${RULES} ${OWN} ${EXCEPTIONS} ${TEMPLATE}
                    RESULT_VARIABLE log_result OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(status_result EQUAL 0 AND log_result EQUAL 0 AND changes STREQUAL "" AND epoch MATCHES "^[0-9]+$")
      set(ENV{SOURCE_DATE_EPOCH} ${epoch})
    endif()
  endif()
endif()
execute_process(COMMAND ${PUBLISHER} shipped ${BUNDLE} ${TEMPLATE} ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the manifest of the shipped rules could not be written")
endif()
