# Warnings of the project's own code as errors, for CI: tools/test turns the option on when it
# runs under CI, so that code with a warning does not land. Developers keep it off while working.
option (QUILLMERE_WERROR "Treat warnings in the project's own sources as errors" OFF)

# Makes warnings errors in those sources of the targets that belong to the project: not JUCE's
# module sources, which the targets compile too, nor the copies and files generated in the
# build tree. Targets that this build does not make are passed over.
function (quillmere_warnings_as_errors)
    if (NOT QUILLMERE_WERROR)
        return()
    endif()

    foreach (target IN LISTS ARGN)
        if (NOT TARGET ${target})
            continue()
        endif()

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
    endforeach()
endfunction()
