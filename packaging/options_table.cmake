# cmake -DNUMBREL=path/to/numbrel -DOUT=table.tsv -P options_table.cmake
# Asks the built program for its batch options table (numbrel --batch --list-options).
execute_process(COMMAND "${NUMBREL}" --batch --list-options
    RESULT_VARIABLE rc OUTPUT_VARIABLE table ERROR_VARIABLE err TIMEOUT 60)
if(NOT rc EQUAL 0 OR NOT table MATCHES "\t")
    message(FATAL_ERROR "numbrel --batch --list-options failed (${rc}): ${err}")
endif()
file(WRITE "${OUT}" "${table}")
