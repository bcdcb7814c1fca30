# Run by CPack on its staging tree: Debian ships manual pages and changelogs compressed with gzip -9n, which
# stores neither the file's name nor its time, so what is compressed depends on the text alone.
file(GLOB_RECURSE documents "${CPACK_TEMPORARY_DIRECTORY}/*${CPACK_PACKAGING_INSTALL_PREFIX}/share/man/*"
     "${CPACK_TEMPORARY_DIRECTORY}/*${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/*/changelog")
foreach(document IN LISTS documents)
    execute_process(COMMAND gzip -9n "${document}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
