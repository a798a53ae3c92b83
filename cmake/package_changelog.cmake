# SPDX-License-Identifier: Apache-2.0
# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) once the files to package are staged:
# writes usr/share/doc/ctrltools/changelog.gz from packaging/changelog, its
# trailer lines signed by the package's maintainer, compressed as Debian
# wants it (gzip -9, -n: no name or time stamp, so builds are reproducible).
if(CPACK_DEBIAN_PACKAGE_MAINTAINER STREQUAL "")
  message(FATAL_ERROR "The package has no maintainer: configure with "
    "-DPACKAGE_MAINTAINER=\"Name <address>\", or run cpack with "
    "-D CPACK_DEBIAN_PACKAGE_MAINTAINER=\"Name <address>\"")
endif()

set(PACKAGE_MAINTAINER "${CPACK_DEBIAN_PACKAGE_MAINTAINER}")
set(_doc ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/ctrltools)
configure_file(${CPACK_CTRLTOOLS_CHANGELOG} ${_doc}/changelog @ONLY)
execute_process(COMMAND ${CPACK_CTRLTOOLS_GZIP} -9nf ${_doc}/changelog
  RESULT_VARIABLE _failed)
if(_failed)
  message(FATAL_ERROR "gzip could not compress ${_doc}/changelog")
endif()
