# Debian package of teslo, built with `cpack -G DEB` from a configured build
# directory (after the daemon and the manual pages are built).
#
# The package version is the daemon's own version text, 0.3-2: upstream 0.3,
# Debian revision 2. Every file installed under /etc is a conffile, so dpkg
# keeps an administrator's changes on upgrade and asks before replacing them.
# The maintainer scripts in packaging/debian/ enable and start the unit the
# way debhelper does (respecting policy-rc.d), stop it before removal so the
# daemon takes itself out of Sendmail's configuration, and clean up on purge.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME teslo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_VERSION 0.3)
set(CPACK_DEBIAN_PACKAGE_RELEASE 2)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "teslo maintainers <postmaster@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Sendmail and Postfix mail filter for spam screening and mail copying")
set(CPACK_PACKAGE_DESCRIPTION [[
teslo is a milter that Sendmail consults over /var/run/teslo.sock. It
screens incoming mail with client whitelists and blacklists, a check for
dynamically assigned host names, a HELO check, a DNS blocklist, SPF with a
result cache, recipient-header checks and a harmful-attachment check, each
set to off, mark, reject or quarantine in /etc/mail/orvane/orvane.conf.
XML rules in /etc/mail/teslo/teslo.xml add copy recipients by sender or
recipient domain. The daemon adds itself to sendmail.cf and to the macro
file when it starts, restarts Sendmail, and removes itself when it stops.
Postfix uses it through smtpd_milters; the "socketgroup" key of orvane.conf
opens the socket to Postfix's group.]])

# The libraries the daemon is linked with (libmilter, libspf2, libxml++ and
# the C/C++ runtime) as dpkg-shlibdeps finds them, with the versions the build
# used; without dpkg-shlibdeps the three libraries are named explicitly.
# The MTA is recommended, not depended on: teslo runs beside Sendmail or
# Postfix, and a Depends on either (or on mail-transport-agent) would make
# apt remove teslo with the last MTA, for instance on "apt-get remove
# postfix". sendmail-cf holds the m4 files needed to rebuild sendmail.cf from
# the macro file that the daemon keeps in step.
find_program(TESLO_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TESLO_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libmilter1.0.1, libspf2-2, libxml++2.6-2v5")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sendmail-bin | postfix, sendmail-cf")

# Install with DESTDIR into the staging tree, so that the absolute /etc and
# /lib destinations land inside it and the keep-existing checks of
# cmake/install.cmake look there, never at the build host's /etc.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES TRUE)

# conffiles lists exactly the configuration files that install.cmake installs.
get_property(TESLO_CONFFILE_LIST GLOBAL PROPERTY TESLO_CONFFILES)
list(JOIN TESLO_CONFFILE_LIST "\n" TESLO_CONFFILE_TEXT)
file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles "${TESLO_CONFFILE_TEXT}\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/packaging/conffiles
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst
    ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
    ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
