# Run by CPack once the packages' files are staged: their modes from the files' kinds alone
# (folders and programs 0755, the rest 0644), whatever the builder's umask. Under umask 077 a
# package would install folders that only root can enter.
execute_process(COMMAND chmod -R u=rwX,go=rX "${CPACK_TEMPORARY_DIRECTORY}"
                COMMAND_ERROR_IS_FATAL ANY)
