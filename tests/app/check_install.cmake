# cmake -DBUILD_DIR=... -DPREFIX=... -DVALIDATE=desktop-file-validate -P check_install.cmake
# Installs the build into PREFIX (emptied first) and checks what the desktop needs of it: the entry,
# valid and taking files, its icon, and a launcher on the PATH that runs the program.

function(fail what)
    message(FATAL_ERROR "${what}")
endfunction()

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
    fail("cmake --install failed (${rc}):\n${out}")
endif()

set(entry "${PREFIX}/share/applications/numbrel.desktop")
if(NOT EXISTS "${entry}")
    fail("no desktop entry at ${entry}")
endif()
execute_process(COMMAND "${VALIDATE}" "${entry}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
    fail("desktop-file-validate refuses ${entry} (${rc}):\n${out}")
endif()

# "Open with" hands the chosen files over only when Exec asks for them.
file(STRINGS "${entry}" exec REGEX "^Exec=")
if(NOT exec STREQUAL "Exec=numbrel %F")
    fail("the entry's Exec line is '${exec}', not 'Exec=numbrel %F'")
endif()
file(STRINGS "${entry}" icon REGEX "^Icon=")
if(NOT icon STREQUAL "Icon=numbrel" OR NOT EXISTS "${PREFIX}/share/icons/hicolor/64x64/apps/numbrel.png")
    fail("the entry's icon '${icon}' is not installed")
endif()

# The name in Exec is the launcher in bin; it must reach the installed program.
execute_process(COMMAND "${PREFIX}/bin/numbrel" --version
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
if(NOT rc EQUAL 0 OR NOT out MATCHES "^Numbrel [0-9]+\\.[0-9]+\\.[0-9]+\n$")
    fail("${PREFIX}/bin/numbrel --version gave ${rc}: '${out}' '${err}'")
endif()

file(REMOVE_RECURSE "${PREFIX}")
