# Installs the build into a fresh prefix, checks that every file a desktop
# needs is there, and validates the menu entry and the AppStream description
# as a distribution's packaging checks would.
# Run as: cmake -DBUILD_DIR=... -DPREFIX=... -P validateinstall.cmake

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(result)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(id com.fendrelsoftware.Brivela)
foreach(file
        bin/brivela
        share/applications/${id}.desktop
        share/icons/hicolor/48x48/apps/${id}.png
        share/icons/hicolor/scalable/apps/${id}.svg
        share/metainfo/${id}.metainfo.xml)
    if(NOT EXISTS "${PREFIX}/${file}")
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

execute_process(COMMAND desktop-file-validate "${PREFIX}/share/applications/${id}.desktop"
                RESULT_VARIABLE result)
if(result)
    message(FATAL_ERROR "desktop-file-validate failed: ${result}")
endif()
execute_process(COMMAND appstreamcli validate --no-net "${PREFIX}/share/metainfo/${id}.metainfo.xml"
                RESULT_VARIABLE result)
if(result)
    message(FATAL_ERROR "appstreamcli validate failed: ${result}")
endif()

file(REMOVE_RECURSE "${PREFIX}")
