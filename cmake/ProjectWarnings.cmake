# The warnings of the project's own targets, which each target declares where it is defined.
#
# Warnings as errors, for CI: tools/test turns the option on when it runs under CI, so that
# code with a warning does not land. Developers keep it off while working.
option (QUILLMERE_WERROR "Treat warnings in the project's own sources as errors" OFF)

# quillmere_project_warnings (<target> [PUBLIC])
#
# JUCE's recommended warnings on <target>, and with QUILLMERE_WERROR warnings as errors in its
# own sources (quillmere_warnings_as_errors). With PUBLIC the targets that link <target> get
# the warnings too, though not the errors.
function (quillmere_project_warnings target)
    cmake_parse_arguments (PARSE_ARGV 1 arg "PUBLIC" "" "")

    if (arg_UNPARSED_ARGUMENTS)
        message (FATAL_ERROR "quillmere_project_warnings: unexpected arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()

    if (arg_PUBLIC)
        target_link_libraries (${target} PUBLIC juce::juce_recommended_warning_flags)
    else()
        target_link_libraries (${target} PRIVATE juce::juce_recommended_warning_flags)
    endif()

    quillmere_warnings_as_errors (${target})
endfunction()

# quillmere_warnings_as_errors (<target>)
#
# With QUILLMERE_WERROR, makes warnings errors in those sources of <target> that belong to the
# project: not JUCE's module sources, which the targets compile too, nor the copies and files
# generated in the build tree. For a target that sets warning flags of its own; the others call
# quillmere_project_warnings. The sources are read when the whole project has been configured,
# so that those added to the target after this call count as well.
function (quillmere_warnings_as_errors target)
    if (NOT QUILLMERE_WERROR)
        return()
    endif()

    # The target's name goes into the deferred call now, not when the call runs.
    cmake_language (EVAL CODE
        "cmake_language (DEFER DIRECTORY [[${PROJECT_SOURCE_DIR}]] CALL _quillmere_own_sources_as_errors [[${target}]])")
endfunction()

function (_quillmere_own_sources_as_errors target)
    get_target_property (sources ${target} SOURCES)
    get_target_property (sourceDir ${target} SOURCE_DIR)

    foreach (source IN LISTS sources)
        if (source MATCHES "^\\$<")
            continue()
        endif()

        cmake_path (ABSOLUTE_PATH source BASE_DIRECTORY "${sourceDir}" NORMALIZE OUTPUT_VARIABLE path)
        cmake_path (IS_PREFIX PROJECT_SOURCE_DIR "${path}" NORMALIZE inProject)
        cmake_path (IS_PREFIX PROJECT_BINARY_DIR "${path}" NORMALIZE generated)

        if (inProject AND NOT generated AND path MATCHES "\\.(c|cpp)$")
            set_property (SOURCE "${path}" TARGET_DIRECTORY ${target} APPEND PROPERTY COMPILE_OPTIONS -Werror)
        endif()
    endforeach()
endfunction()
