# Run by cpack once the package's files are laid out, before rpmbuild sees
# them: every file and folder takes the time SOURCE_DATE_EPOCH gives.
execute_process(
  COMMAND find ${CPACK_TEMPORARY_INSTALL_DIRECTORY} -exec touch -h
          -d @$ENV{SOURCE_DATE_EPOCH} {} +
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not set the package's time stamps")
endif()
