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

# Man pages made from the built programs' help texts (tools/man/make_man_pages.py): cvcal.1, a
# page per cvcal command, cvadmind.8 and cvadmind.conf.5. The list of commands is cvcal's own, so
# the pages are a folder whose contents the build learns only when it runs; only a native build
# can run the programs.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND AND NOT CMAKE_CROSSCOMPILING)
    set(cv_man_dir ${CMAKE_BINARY_DIR}/man)
    set(cv_man_script ${CMAKE_SOURCE_DIR}/tools/man/make_man_pages.py)
    add_custom_command(OUTPUT ${cv_man_dir}/pages.txt
        COMMAND ${Python3_EXECUTABLE} ${cv_man_script} --cvcal $<TARGET_FILE:cvcal>
            --cvadmind $<TARGET_FILE:cvadmind> --version ${CVAICP_VERSION_TEXT} --out ${cv_man_dir}
        DEPENDS cvcal cvadmind ${cv_man_script}
        COMMENT "man pages of cvcal and cvadmind")
    add_custom_target(man_pages ALL DEPENDS ${cv_man_dir}/pages.txt)
    foreach(section 1 5 8)
        install(DIRECTORY ${cv_man_dir}/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
            FILES_MATCHING PATTERN "*.${section}")
    endforeach()
elseif(NOT CMAKE_CROSSCOMPILING)
    message(STATUS "No Python 3: the man pages are not made")
endif()
