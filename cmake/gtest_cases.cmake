# One ctest test for each case of a GoogleTest program, for every kind of program the tests have:
# native programs, Windows programs run under Wine, and the guest's programs, whose cases run
# inside QEMU and are reported from there.
#
#   zq_gtest_cases(TARGET target
#                  [LABELS label...]            the labels of every case (scripts/check_test_labels.py)
#                  [NAME template]              the test's name; default @TEST@
#                  [LIST_WITH command...]       what starts the program to list its cases; default:
#                                               the program itself
#                  [RUN command...]             each case's command; default: the LIST_WITH
#                                               command, the program, --gtest_filter=@TEST@ and
#                                               EXTRA_ARGS
#                  [EXTRA_ARGS arg...]
#                  [PROPERTIES name value...]   more properties of every case (values without ';')
#                  [LIST_TIMEOUT seconds])      how long the listing may take; default 60
#
# In NAME and RUN, @TEST@ stands for the case's full GoogleTest name (Suite.Case, or
# Prefix/Suite.Case/Row for a row of a table) and @CASE@ for its name without the suite (Case, or
# Case/Row). Generator expressions are allowed in LIST_WITH, RUN and EXTRA_ARGS.
#
# The cases are listed when ctest starts (`ctest -N` included), by running the program with
# --gtest_list_tests, and only again once the program has been built anew. Nothing is run at
# configure or build time: a Windows program is listed through Wine (LIST_WITH), and only where
# its tests are registered at all, on a machine that can start it; a guest program is listed on
# this machine (it is a program of this machine's architecture) and its cases RUN elsewhere. A
# program not yet built gives one failing test, <name of the target>_NOT_BUILT, and a listing that
# fails gives one failing test that says why.
set(ZQ_GTEST_CASES_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/gtest_cases_list.cmake)

function(zq_gtest_cases)
    cmake_parse_arguments(PARSE_ARGV 0 ARG "" "TARGET;NAME;LIST_TIMEOUT"
                          "LABELS;LIST_WITH;RUN;EXTRA_ARGS;PROPERTIES")
    if(NOT ARG_TARGET)
        message(FATAL_ERROR "zq_gtest_cases: TARGET is missing")
    endif()
    if(ARG_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "zq_gtest_cases(${ARG_TARGET}): unknown ${ARG_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT ARG_NAME)
        set(ARG_NAME "@TEST@")
    endif()
    if(NOT ARG_LIST_TIMEOUT)
        set(ARG_LIST_TIMEOUT 60)
    endif()
    set(program "$<TARGET_FILE:${ARG_TARGET}>")
    if(NOT ARG_RUN)
        set(ARG_RUN ${ARG_LIST_WITH} ${program} "--gtest_filter=@TEST@" ${ARG_EXTRA_ARGS})
    endif()
    list(LENGTH ARG_PROPERTIES count)
    math(EXPR odd "${count} % 2")
    if(odd)
        message(FATAL_ERROR "zq_gtest_cases(${ARG_TARGET}): PROPERTIES takes names and values")
    endif()

    # Each list as bracket arguments, one an element.
    foreach(part IN ITEMS LIST_WITH RUN PROPERTIES)
        set(${part}_text "")
        foreach(item IN LISTS ARG_${part})
            string(APPEND ${part}_text " [==[${item}]==]")
        endforeach()
    endforeach()

    set(base ${CMAKE_CURRENT_BINARY_DIR}/${ARG_TARGET})
    file(GENERATE OUTPUT ${base}_cases_include.cmake CONTENT
"# Written by zq_gtest_cases (cmake/gtest_cases.cmake): the cases of ${ARG_TARGET}.
set(zq_target [==[${ARG_TARGET}]==])
set(zq_program [==[${program}]==])
set(zq_list_with${LIST_WITH_text})
set(zq_run${RUN_text})
set(zq_name [==[${ARG_NAME}]==])
set(zq_labels [==[${ARG_LABELS}]==])
set(zq_properties${PROPERTIES_text})
set(zq_list_timeout ${ARG_LIST_TIMEOUT})
set(zq_working_directory [==[${CMAKE_CURRENT_BINARY_DIR}]==])
set(zq_cases [==[${base}_cases.cmake]==])
set(zq_include [==[${base}_cases_include.cmake]==])
include([==[${ZQ_GTEST_CASES_SCRIPT}]==])
")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${base}_cases_include.cmake)
endfunction()
