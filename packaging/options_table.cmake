# cmake -DNUMBREL=path/to/numbrel -DSTUB=batch-options.stub.tsv -DOUT=table.tsv -P options_table.cmake
# Asks the built program for its batch options table. A program that does not have the table yet
# (it refuses --list-options) gets the stub, which holds today's options in the same format.
execute_process(COMMAND "${NUMBREL}" --batch --list-options
    RESULT_VARIABLE rc OUTPUT_VARIABLE table ERROR_VARIABLE err TIMEOUT 60)
if(rc EQUAL 0 AND table MATCHES "\t")
    file(WRITE "${OUT}" "${table}")
elseif(EXISTS "${STUB}")
    message(STATUS "numbrel --batch --list-options answered ${rc} (${err}); using ${STUB}")
    configure_file("${STUB}" "${OUT}" COPYONLY)
else()
    message(FATAL_ERROR "numbrel --batch --list-options failed (${rc}): ${err}")
endif()
