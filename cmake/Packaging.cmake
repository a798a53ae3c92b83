# SPDX-License-Identifier: Apache-2.0
# Installation and Debian packages: both programs and their manual pages in
# one package, ctrltools, for the architecture being built (amd64, or armhf
# from the cross build). Runtime dependencies come from dpkg-shlibdeps, which
# also reads the :armhf libraries' symbols files in the cross build.
find_program(GZIP_PROGRAM gzip REQUIRED)

# Manual pages ship compressed (Debian policy); -n keeps the archive free of
# the build time, so two builds of one source give the same package. The
# version in them (@PROJECT_VERSION@) is filled in first.
set(_man_pages "")
foreach(page devsim.1 logfwd.1)
  set(_source ${PROJECT_BINARY_DIR}/man/${page})
  configure_file(${PROJECT_SOURCE_DIR}/man/${page} ${_source} @ONLY)
  set(_packed ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${_packed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND /bin/sh -c "\"$0\" -9n -c \"$1\" > \"$2\"" ${GZIP_PROGRAM} ${_source} ${_packed}
    DEPENDS ${_source}
    VERBATIM)
  list(APPEND _man_pages ${_packed})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${_man_pages})
install(FILES ${_man_pages} DESTINATION share/man/man1)

# The Debian architecture of what is built: the host's own, or the one that
# matches the cross toolchain's multiarch triplet.
function(debian_architecture out)
  set(_query -qDEB_HOST_ARCH)
  if(CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE)
    list(PREPEND _query -t${CMAKE_LIBRARY_ARCHITECTURE})
  endif()
  execute_process(COMMAND dpkg-architecture ${_query}
    OUTPUT_VARIABLE _arch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
    RESULT_VARIABLE _failed)
  if(_failed)
    message(FATAL_ERROR "dpkg-architecture (package dpkg-dev) is needed to name the package")
  endif()
  set(${out} ${_arch} PARENT_SCOPE)
endfunction()
debian_architecture(CTRLTOOLS_DEB_ARCH)

# The maintainer is whoever releases the package; nobody's address is made up
# here. Without it cpack refuses to build the package (the package test
# passes one with cpack -D CPACK_DEBIAN_PACKAGE_MAINTAINER=...).
set(PACKAGE_MAINTAINER "" CACHE STRING
  "Maintainer of the Debian package, \"Name <address>\" (scripts/build-release.sh: from the environment)")
if(PACKAGE_MAINTAINER STREQUAL "")
  message(STATUS "PACKAGE_MAINTAINER is not set: cpack needs one for the package "
    "(-DPACKAGE_MAINTAINER=\"Name <address>\", or cpack -D CPACK_DEBIAN_PACKAGE_MAINTAINER=...)")
elseif(NOT PACKAGE_MAINTAINER MATCHES "^[^<>]+ <[^<>@ ]+@[^<>@ ]+>$")
  message(FATAL_ERROR "PACKAGE_MAINTAINER \"${PACKAGE_MAINTAINER}\" is not \"Name <address>\"")
endif()

# The changelog in the repository has one entry per released version; the
# newest must be the project's version, so that the two cannot drift apart.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog _newest LIMIT_COUNT 1)
if(NOT _newest MATCHES "^ctrltools \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog starts with \"${_newest}\": "
    "add an entry for version ${PROJECT_VERSION} on top")
endif()

install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION share/doc/ctrltools)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ctrltools)
set(CPACK_PACKAGE_VENDOR "ctrltools")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PACKAGE_MAINTAINER}")
# changelog.gz is written when the package is made (package_changelog.cmake),
# since its trailer lines name the maintainer that cpack was given.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package_changelog.cmake)
set(CPACK_CTRLTOOLS_CHANGELOG ${PROJECT_SOURCE_DIR}/packaging/changelog)
set(CPACK_CTRLTOOLS_GZIP ${GZIP_PROGRAM})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "controller tools: message-bus test device (devsim) and syslog forwarder (logfwd)")
set(CPACK_PACKAGE_DESCRIPTION
  "devsim plays a measuring device on the controller's message bus: it announces\n\
itself, sends status and measurement messages at an interval and answers menu\n\
requests. logfwd forwards a text log file and its rotated .gz archives to a\n\
syslog server, one RFC 3164 message per line, over UDP, TCP or TLS.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${CTRLTOOLS_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# dpkg-shlibdeps names the packages of the libraries the programs link
# (libmosquitto1, libinih1, libssl3, zlib1g, libstdc++6, libc6); without it they are named
# here. The controller's own libraries (PLATFORM_STANDINS=OFF) belong to its
# firmware, not to any Debian package, so nothing is declared for them.
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(PLATFORM_STANDINS AND DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
elseif(PLATFORM_STANDINS)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libmosquitto1, libinih1, libssl3, zlib1g, libstdc++6, libgcc-s1, libc6")
endif()
include(CPack)
