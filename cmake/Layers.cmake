# Each folder of the program is a layer, as scripts/check-layers reads the
# includes; common/ holds headers only. What a layer builds links only what
# lower layers build, or its own layer's libraries; the player and the
# command-line tool stand side by side and link neither the other.
set(velofonLevel_platform 0)
set(velofonLevel_decoder 1)
set(velofonLevel_engine 2)
set(velofonLevel_output 3)
set(velofonLevel_player 4)
set(velofonLevel_tools 4)
set(velofonLevel_ui 5)
set(velofonLevel_app 6)

# The layer of the folder a target is made in; empty for the tests, the
# benchmarks, the fuzz targets and what the system provides.
function(velofon_layer_of target outLayer)
    set(layer "")
    get_target_property(imported ${target} IMPORTED)
    if(NOT imported)
        get_target_property(folder ${target} SOURCE_DIR)
        file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${folder})
        string(REGEX REPLACE "/.*" "" folder "${folder}")
        if(DEFINED velofonLevel_${folder})
            set(layer ${folder})
        endif()
    endif()
    set(${outLayer} "${layer}" PARENT_SCOPE)
endfunction()

# The targets made in a folder and in the folders under it.
function(velofon_targets_in folder outTargets)
    get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subfolders DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
    foreach(subfolder IN LISTS subfolders)
        velofon_targets_in(${subfolder} more)
        list(APPEND targets ${more})
    endforeach()
    set(${outTargets} ${targets} PARENT_SCOPE)
endfunction()

# The links of a target of the layer, each checked against the layers; what
# its link check links in their place: the libraries of the program through
# their own link checks.
function(velofon_checked_links target layer outLinks)
    get_target_property(links ${target} LINK_LIBRARIES)
    if(NOT links)
        set(links "")
    endif()
    set(checkLinks "")
    foreach(link IN LISTS links)
        set(checkLink ${link})
        if(TARGET "${link}")
            velofon_layer_of(${link} linkLayer)
            get_target_property(linkType ${link} TYPE)
            get_target_property(linkImported ${link} IMPORTED)
            if(linkLayer STREQUAL "" AND NOT linkImported AND NOT linkType STREQUAL "INTERFACE_LIBRARY")
                message(FATAL_ERROR "${target} (${layer}/) links ${link}, which is not part of the program")
            endif()
            if(NOT linkLayer STREQUAL "" AND NOT linkLayer STREQUAL layer
                    AND NOT velofonLevel_${linkLayer} LESS velofonLevel_${layer})
                message(FATAL_ERROR "${target} (${layer}/) links ${link} (${linkLayer}/), which is not in a lower layer")
            endif()
            if(NOT linkLayer STREQUAL "" AND linkType STREQUAL "STATIC_LIBRARY")
                set(checkLink ${link}_linkcheck)
            endif()
        endif()
        list(APPEND checkLinks ${checkLink})
    endforeach()
    set(${outLinks} ${checkLinks} PARENT_SCOPE)
endfunction()

# A static library linked on its own into a shared object of link-check/,
# with nothing but what it links itself: one that uses what it does not link
# fails the build. Position-independent to go into the shared object, and
# bound within itself as in the programs it goes into.
function(velofon_link_alone target checkLinks)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_compile_options(${target} PRIVATE -fno-semantic-interposition)
    add_library(${target}_linkcheck SHARED $<TARGET_OBJECTS:${target}>)
    set_target_properties(${target}_linkcheck PROPERTIES
        LINKER_LANGUAGE CXX
        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/link-check)
    target_link_libraries(${target}_linkcheck PRIVATE ${checkLinks})
    target_link_options(${target}_linkcheck PRIVATE LINKER:--no-undefined)
endfunction()

# Every library and program of the program: its links go down the layers,
# each static library links on its own and the decoder module leaves nothing
# undefined. The instrumented builds leave the sanitizers' and the fuzzer's
# symbols to the programs, and check only the layers.
function(velofon_check_layers)
    velofon_targets_in(${PROJECT_SOURCE_DIR} targets)
    foreach(target IN LISTS targets)
        velofon_layer_of(${target} layer)
        get_target_property(type ${target} TYPE)
        if(layer STREQUAL "" OR NOT type MATCHES "^(STATIC_LIBRARY|MODULE_LIBRARY|EXECUTABLE)$")
            continue()
        endif()
        velofon_checked_links(${target} ${layer} checkLinks)
        if(VELOFON_FUZZ OR VELOFON_SANITIZE)
            continue()
        endif()
        if(type STREQUAL "STATIC_LIBRARY")
            velofon_link_alone(${target} "${checkLinks}")
        elseif(type STREQUAL "MODULE_LIBRARY")
            target_link_options(${target} PRIVATE LINKER:--no-undefined)
        endif()
    endforeach()
endfunction()
