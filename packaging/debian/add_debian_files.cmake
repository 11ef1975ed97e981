# CPack runs this once the files are installed in its staging folder, before it packs them: the
# Debian files that the installation itself does not hold. The changelog's version must be the
# package's, so a new version without its changelog entry does not pack.
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
if(NOT IS_DIRECTORY "${root}/bin")
    message(FATAL_ERROR "add_debian_files: no staged installation in ${root}")
endif()

file(STRINGS "${CPACK_ZQ_DEBIAN_DIR}/changelog" top LIMIT_COUNT 1)
if(NOT top MATCHES "^${CPACK_PACKAGE_NAME} \\(([^)]+)\\)")
    message(FATAL_ERROR "add_debian_files: cannot read the first entry of debian/changelog")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL CPACK_PACKAGE_VERSION)
    message(FATAL_ERROR "add_debian_files: debian/changelog's latest entry is ${CMAKE_MATCH_1}, "
                        "the package is ${CPACK_PACKAGE_VERSION}: add an entry for it")
endif()

# The programs without the sections that a stripped program still carries and nothing needs, as
# Debian's dh_strip leaves them (CPack has stripped them already).
file(GLOB programs "${root}/bin/*")
foreach(program IN LISTS programs)
    execute_process(COMMAND "${CPACK_ZQ_STRIP}" --remove-section=.comment --remove-section=.note "${program}"
                    RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "add_debian_files: strip ${program} failed")
    endif()
endforeach()

# gzip -9n: no name and no time stamp in the compressed file, as Debian wants.
function(zq_gzip source target)
    execute_process(COMMAND gzip -9nc "${source}" OUTPUT_FILE "${target}" RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "add_debian_files: gzip ${source} failed")
    endif()
    file(CHMOD "${target}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

set(doc "${root}/${CPACK_ZQ_DOCDIR}")
file(COPY_FILE "${CPACK_ZQ_DEBIAN_DIR}/copyright" "${doc}/copyright")
file(CHMOD "${doc}/copyright" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
zq_gzip("${CPACK_ZQ_DEBIAN_DIR}/changelog" "${doc}/changelog.gz")

file(GLOB pages "${root}/${CPACK_ZQ_MANDIR}/man*/*.[1-9]")
foreach(page IN LISTS pages)
    zq_gzip("${page}" "${page}.gz")
    file(REMOVE "${page}")
endforeach()
