# GoogleTest for the tests: the targets GTest::gtest and GTest::gtest_main (and gtest, gtest_main
# when built here from source).
#
# A native build uses the installed library when there is one (Debian: libgtest-dev). A cross
# build, or a native one without the library, compiles GoogleTest from its source with the
# project's compiler: the tree in ZQ_GOOGLETEST_SOURCE when it is set, otherwise the first of the
# usual places where a distribution installs the source (Debian and Ubuntu: the googletest
# package, /usr/src/googletest).
set(ZQ_GOOGLETEST_SOURCE "" CACHE PATH
    "GoogleTest source tree (holding googletest/ or src/gtest-all.cc); found when left empty")

function(zq_googletest_from_source dir)
    if(EXISTS "${dir}/googletest/src/gtest-all.cc" OR EXISTS "${dir}/src/gtest-all.cc")
        set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
        set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
        if(WIN32)
            set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
        endif()
        add_subdirectory("${dir}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
        message(STATUS "GoogleTest: built from the source in ${dir}")
    else()
        message(FATAL_ERROR "ZQ_GOOGLETEST_SOURCE=${dir} is not a GoogleTest source tree: it "
                            "holds neither googletest/src/gtest-all.cc nor src/gtest-all.cc.")
    endif()
endfunction()

if(ZQ_GOOGLETEST_SOURCE)
    zq_googletest_from_source("${ZQ_GOOGLETEST_SOURCE}")
    return()
endif()

if(NOT CMAKE_CROSSCOMPILING)
    find_package(GTest QUIET)
    if(TARGET GTest::gtest AND TARGET GTest::gtest_main)
        message(STATUS "GoogleTest: the installed library")
        return()
    endif()
endif()

# The source, looked up outside any cross-compiling sysroot: it is compiled, not linked as is.
find_path(ZQ_GOOGLETEST_FOUND_SOURCE
          NAMES googletest/src/gtest-all.cc src/gtest-all.cc
          PATHS /usr/src /usr/local/src
          PATH_SUFFIXES googletest gtest
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(ZQ_GOOGLETEST_FOUND_SOURCE)
    zq_googletest_from_source("${ZQ_GOOGLETEST_FOUND_SOURCE}")
    return()
endif()

if(CMAKE_CROSSCOMPILING)
    set(zq_what "its source, to compile it with ${CMAKE_CXX_COMPILER}")
else()
    set(zq_what "the installed library, or its source")
endif()
message(FATAL_ERROR
    "GoogleTest was not found. The tests need ${zq_what}.\n"
    "  - install it: on Debian or Ubuntu `apt-get install libgtest-dev googletest` (the library "
    "and the source in /usr/src/googletest);\n"
    "  - or point to a source tree (a clone of https://github.com/google/googletest): "
    "-DZQ_GOOGLETEST_SOURCE=/path/to/googletest;\n"
    "  - or build without the tests: -DZQ_BUILD_TESTS=OFF.")
