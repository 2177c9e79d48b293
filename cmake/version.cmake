# The product's one version: the project's version, and the commit it was built from as git
# describes it ("1.0.0+g1a2b3c4d5e6f", "+...-dirty" for a tree with changes), or the project's
# version alone outside a git checkout. It goes into every --version, into cvcal's config show,
# and in the Windows build into the version resource of CVAICP.DLL, cvcal.exe and cvadmind.exe.
set(CVAICP_VERSION_TEXT ${PROJECT_VERSION})
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${CMAKE_SOURCE_DIR}/.git)
    execute_process(COMMAND ${GIT_EXECUTABLE} describe --always --dirty --abbrev=12
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE git_description OUTPUT_STRIP_TRAILING_WHITESPACE
                    ERROR_QUIET RESULT_VARIABLE git_result)
    if(git_result EQUAL 0 AND NOT git_description STREQUAL "")
        set(CVAICP_VERSION_TEXT "${PROJECT_VERSION}+g${git_description}")
    endif()
    # A new commit configures again, so that the description follows it. In a worktree .git is
    # a file naming the real folder, and the branch's ref lives in the shared one: git says where.
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute --git-path HEAD
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE git_head_file OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(EXISTS "${git_head_file}")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${git_head_file})
        file(READ ${git_head_file} git_head)
        if(git_head MATCHES "^ref: ([^\n]+)")
            execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute
                                    --git-path ${CMAKE_MATCH_1}
                            WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                            OUTPUT_VARIABLE git_ref OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
            if(EXISTS "${git_ref}")
                set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${git_ref})
            endif()
        endif()
    endif()
endif()

# The version resource of a Windows binary: its description, and the file name it ships under.
function(cv_version_resource target description file_name)
    if(NOT WIN32)
        return()
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
        set(CV_RC_FILE_TYPE VFT_DLL)
    else()
        set(CV_RC_FILE_TYPE VFT_APP)
    endif()
    set(CV_RC_DESCRIPTION ${description})
    set(CV_RC_FILE_NAME ${file_name})
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()
