# `cmake --install`: the programs, the library, its header, the man pages, bash completion, and
# cvadmind's systemd unit and configuration.
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

# The service's unit, its configuration and their documentation, in the layout of a Debian
# system below the prefix: lib/systemd/system, etc/cvaicp, share/doc/cvaicp.
if(NOT WIN32)
    set(cv_install_dir ${CMAKE_SOURCE_DIR}/tools/install)
    install(FILES ${CMAKE_SOURCE_DIR}/README.md ${cv_install_dir}/store.reg
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
    # The paths in the unit and the example follow the prefix given to `cmake --install`, which
    # may not be the one configured: they are written when the install runs.
    install(CODE "
        set(CV_INSTALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
        set(CV_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
        set(CV_INSTALL_SYSCONFDIR \"${CMAKE_INSTALL_SYSCONFDIR}\")
        set(cv_prefix \"\${CMAKE_INSTALL_PREFIX}\")
        foreach(kind BINDIR LIBDIR SYSCONFDIR)
            set(dir \${CV_INSTALL_\${kind}})
            if(NOT IS_ABSOLUTE \"\${dir}\")
                set(dir \"\${cv_prefix}/\${dir}\")
            endif()
            set(CV_\${kind} \"\${dir}\")
        endforeach()
        set(CV_CONFDIR \"\${CV_SYSCONFDIR}/cvaicp\")
        set(staged \"${CMAKE_BINARY_DIR}/install-staging\")
        configure_file(\"${cv_install_dir}/cvadmind.service.in\" \"\${staged}/cvadmind.service\" @ONLY)
        configure_file(\"${cv_install_dir}/cvadmind.conf.in\" \"\${staged}/cvadmind.conf\" @ONLY)
        file(INSTALL \"\${staged}/cvadmind.service\"
             DESTINATION \"\${cv_prefix}/lib/systemd/system\")
        file(INSTALL \"\${staged}/cvadmind.conf\"
             DESTINATION \"\${cv_prefix}/${CMAKE_INSTALL_DOCDIR}\")
        # The configuration in use is the operator's: an install does not overwrite it.
        if(EXISTS \"\$ENV{DESTDIR}\${CV_CONFDIR}/cvadmind.conf\")
            message(STATUS \"Kept: \$ENV{DESTDIR}\${CV_CONFDIR}/cvadmind.conf\")
        else()
            file(INSTALL \"\${staged}/cvadmind.conf\" DESTINATION \"\${CV_CONFDIR}\"
                 PERMISSIONS OWNER_READ OWNER_WRITE)
        endif()
    ")
endif()
