# `cmake --install`: the programs, the library, its header, the man pages and bash completion.
# The programs find the library beside them or in ../lib, which is where it is installed.
include(GNUInstallDirs)
install(TARGETS cvcal cvadmind RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS cvaicp
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/cvaicp.h ${CMAKE_SOURCE_DIR}/include/cvaicp_exports.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

if(NOT WIN32)
    # The engine's C face, which the CalDAV door loads.
    install(TARGETS cvaicp_icalendar_shared LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
    install(FILES ${CMAKE_SOURCE_DIR}/icalendar/cvaicp_icalendar.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    install(FILES ${CMAKE_SOURCE_DIR}/tools/completion/cvcal.bash RENAME cvcal
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
    # bash-completion loads a file by the command's name: cvadmind's is the same file.
    install(FILES ${CMAKE_SOURCE_DIR}/tools/completion/cvcal.bash RENAME cvadmind
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()

# Man pages made from the programs' --help and --version (help2man runs the built programs,
# so only a native build makes them).
find_program(CV_HELP2MAN help2man)
if(CV_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
    set(cv_man_pages)
    foreach(program cvcal cvadmind)
        if(program STREQUAL cvcal)
            set(what "command-line host of the calendar provider library")
        else()
            set(what "remote admin service of the calendar provider")
        endif()
        set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
        add_custom_command(OUTPUT ${page}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
            COMMAND ${CV_HELP2MAN} --no-info --no-discard-stderr --name=${what}
                --output=${page} $<TARGET_FILE:${program}>
            DEPENDS ${program}
            COMMENT "man page of ${program}")
        list(APPEND cv_man_pages ${page})
    endforeach()
    add_custom_target(man_pages ALL DEPENDS ${cv_man_pages})
    install(FILES ${cv_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
