# Run by cpack once the RPM's files are laid out, before rpmbuild sees them.
#
# The licence goes where RPM systems keep licences, marked %license in the
# file list (CPACK_RPM_USER_FILELIST); the Debian package has its copyright
# file instead, so it is added here, for the RPM alone.
set(licences ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/share/licenses/moltravytext)
file(MAKE_DIRECTORY ${licences})
file(COPY_FILE ${CMAKE_CURRENT_LIST_DIR}/../LICENSE ${licences}/LICENSE)

# Every file and folder takes the time SOURCE_DATE_EPOCH gives.
execute_process(
  COMMAND find ${CPACK_TEMPORARY_INSTALL_DIRECTORY} -exec touch -h
          -d @$ENV{SOURCE_DATE_EPOCH} {} +
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not set the package's time stamps")
endif()
