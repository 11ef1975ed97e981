# Included by ctest, from the file zq_gtest_cases (gtest_cases.cmake) wrote for a program: lists
# the program's cases when the program is newer than the last listing, writes one test for each
# into zq_cases, and includes that.

# A test that fails at once with `message` (ctest shows the command it could not start), in
# place of the cases; the listing is tried again at the next start of ctest.
macro(zq_gtest_cases_placeholder name message)
    file(REMOVE ${zq_cases})
    file(WRITE ${zq_cases}.failed
         "add_test([==[${name}]==] [==[${message}]==])\n"
         "set_tests_properties([==[${name}]==] PROPERTIES LABELS [==[${zq_labels}]==])\n")
    include(${zq_cases}.failed)
    return()
endmacro()

if(NOT EXISTS "${zq_program}")
    zq_gtest_cases_placeholder("${zq_target}_NOT_BUILT" "${zq_target}_NOT_BUILT")
endif()

if(EXISTS "${zq_cases}" AND NOT "${zq_program}" IS_NEWER_THAN "${zq_cases}"
   AND NOT "${zq_include}" IS_NEWER_THAN "${zq_cases}"
   AND NOT "${CMAKE_CURRENT_LIST_FILE}" IS_NEWER_THAN "${zq_cases}")
    include(${zq_cases})
    return()
endif()

execute_process(COMMAND ${zq_list_with} ${zq_program} --gtest_list_tests
                WORKING_DIRECTORY ${zq_working_directory}
                TIMEOUT ${zq_list_timeout}
                OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    string(REPLACE "\n" " " errors "${errors}")
    zq_gtest_cases_placeholder("${zq_target}_NOT_LISTED"
                               "listing ${zq_program} failed (${status}): ${errors}")
endif()

# The listing: a suite a line ("Suite." or "Prefix/Suite.", then perhaps "  # TypeParam = ..."),
# its cases below it, indented ("  Case" or "  Case/Row", then perhaps "  # GetParam() = ...").
string(REPLACE "\r" "" listing "${listing}")
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(script "")
set(suite "")
set(count 0)
foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" entry "${line}")
    string(STRIP "${entry}" entry)
    if(entry STREQUAL "")
        continue()
    endif()
    if(NOT line MATCHES "^ ")
        string(REGEX REPLACE "\\.$" "" suite "${entry}")
        continue()
    endif()
    set(test "${suite}.${entry}")
    string(REPLACE "@TEST@" "${test}" name "${zq_name}")
    string(REPLACE "@CASE@" "${entry}" name "${name}")
    set(command "")
    foreach(part IN LISTS zq_run)
        string(REPLACE "@TEST@" "${test}" part "${part}")
        string(REPLACE "@CASE@" "${entry}" part "${part}")
        string(APPEND command " [==[${part}]==]")
    endforeach()
    set(properties "LABELS [==[${zq_labels}]==] WORKING_DIRECTORY [==[${zq_working_directory}]==]")
    set(key "")
    foreach(part IN LISTS zq_properties)
        if(key STREQUAL "")
            set(key "${part}")
        else()
            string(APPEND properties " ${key} [==[${part}]==]")
            set(key "")
        endif()
    endforeach()
    if(test MATCHES "(^|[./])DISABLED_")
        string(APPEND properties " DISABLED TRUE")
    endif()
    string(APPEND script "add_test([==[${name}]==]${command})\n"
                         "set_tests_properties([==[${name}]==] PROPERTIES ${properties})\n")
    math(EXPR count "${count} + 1")
endforeach()
if(count EQUAL 0)
    zq_gtest_cases_placeholder("${zq_target}_NO_CASES" "${zq_program} listed no case")
endif()
file(WRITE ${zq_cases} "${script}")
include(${zq_cases})
