# Installation and the Debian package (cpack -G DEB, or the target deb).
#
# The package installs vornctl and vornctl-setup in /usr/sbin, the delivery
# agent in /usr/libexec/vornctl, the three man pages, the bash completion and
# a tmpfiles.d entry for the lock directory; it depends on Postfix with its
# pcre tables, maildrop (deliverquota) and the shared libraries the programs
# link, found by dpkg-shlibdeps.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Installation prefix" FORCE)
endif()
# Installing or packaging builds only what it installs (target deb), not
# every test program.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

include(${CMAKE_CURRENT_LIST_DIR}/Programs.cmake)

install(TARGETS vornctl vornctl-setup DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS vornctl-deliver vornctl-filter vornctl-autoresponder DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/vornctl)
install(FILES ${VORNCTL_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${VORNCTL_DOC_DIR}/vornctl.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vornctl)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/vornctl.tmpfiles
  DESTINATION lib/tmpfiles.d RENAME vornctl.conf)

set(VORNCTL_PACKAGE_VERSION 0.1.0 CACHE STRING "Version of the vornctl package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vornctl)
set(CPACK_PACKAGE_VERSION ${VORNCTL_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT "vornctl maintainers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "mail management for Postfix, Courier-IMAP and Maildir mailboxes")
set(CPACK_PACKAGE_DESCRIPTION
  "vornctl makes one change to the mail system per run: domains, mailnames, mailboxes, redirects, aliases, server settings, mail handlers and services. vornctl-setup prepares a Postfix server for it; vornctl-deliver delivers mail as the tool's .qmail files say.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "postfix, postfix-pcre, maildrop, courier-imap, courier-pop, courier-authlib-sqlite, libsasl2-modules, openssl")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "courier-imap")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)

add_custom_target(deb
  COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${PROJECT_BINARY_DIR}/CPackConfig.cmake
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  DEPENDS vornctl vornctl-setup vornctl-deliver vornctl-filter vornctl-autoresponder
    vornctl-docs
  COMMENT "Building the Debian package"
  VERBATIM)
