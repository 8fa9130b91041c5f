# VST2 through Debian's FST header set. JUCE's VST2 wrapper and hosting code include the
# interface as pluginterfaces/vst2.x/aeffect.h, aeffectx.h and vstfxstore.h, which FST does not
# provide under those names; each build that needs them generates a folder of that shape, whose
# headers include FST's fst.h (the templates in cmake/vst2/).

set (QUILLMERE_VST2_TEMPLATES "${CMAKE_CURRENT_LIST_DIR}/vst2")

# quillmere_generate_vst2_headers (<folder> [FST_HEADER <file>])
#
# Writes <folder>/pluginterfaces/vst2.x/{aeffect.h,aeffectx.h,vstfxstore.h}; pass <folder> as
# an include directory. With FST_HEADER, <file> is copied beside them as
# <folder>/pluginterfaces/fst/fst.h, which that include directory then finds before (or, for a
# cross compiler that does not search the system's headers, instead of) the system's FST.
# Files are rewritten only when their content changes, so the generation starts no rebuild.
function (quillmere_generate_vst2_headers folder)
    cmake_parse_arguments (PARSE_ARGV 1 arg "" "FST_HEADER" "")

    if (arg_UNPARSED_ARGUMENTS)
        message (FATAL_ERROR "quillmere_generate_vst2_headers: unexpected arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()

    foreach (header aeffect.h aeffectx.h vstfxstore.h)
        configure_file ("${QUILLMERE_VST2_TEMPLATES}/${header}.in" "${folder}/pluginterfaces/vst2.x/${header}" COPYONLY)
    endforeach()

    if (arg_FST_HEADER)
        configure_file ("${arg_FST_HEADER}" "${folder}/pluginterfaces/fst/fst.h" COPYONLY)
    endif()
endfunction()
