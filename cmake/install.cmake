# Install layout of teslo on a Debian-style Sendmail host.
#
#   /usr/sbin/teslo                       the daemon (the root monitor)
#   /usr/libexec/teslo/teslo-filter       the filter process's program
#   /usr/libexec/teslo/teslo-spawner, teslo-spf, teslo-archive
#                                         the sandboxed helpers' spawner and helpers
#   /usr/sbin/teslo-check                 the configuration checker (when built)
#   /usr/sbin/teslo-try                   one message through the running filter
#   /etc/mail/orvane/orvane.conf          spam-check settings (example, defaults in force)
#   /etc/mail/teslo/teslo.xml, teslo.dtd  copy rules and their document type
#   /lib/systemd/system/teslo.service     the systemd unit
#   /usr/share/man/man8/teslo.8.gz, man5/orvane.conf.5.gz, man5/teslo.xml.5.gz
#
# Included at the end of the top-level CMakeLists.txt. `cmake --install`
# honours DESTDIR. Configuration files are never overwritten: one that exists
# under DESTDIR is kept as it is and reported. The Debian package (debian/)
# installs through this file too; dpkg marks the files under /etc as
# conffiles and keeps local changes.

# The daemon's paths under /etc are compiled in, so only the programs, the
# manual pages and the documentation follow the prefix; the default prefix is
# /usr, where a packaged daemon lives.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()
include(GNUInstallDirs)

set(TESLO_SYSTEMD_UNIT_DIR /lib/systemd/system
    CACHE PATH "Directory of systemd system units")
set(TESLO_SPAM_CONFIG_DIR /etc/mail/orvane)
set(TESLO_COPY_RULE_DIR /etc/mail/teslo)

install(TARGETS teslo RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
# The programs the daemon starts: paths::program_directory, a fixed path
# like the daemon's other paths.
install(TARGETS teslo-filter teslo-spawner teslo-spf teslo-archive
        RUNTIME DESTINATION /usr/libexec/teslo)
# The configuration checker, once the build defines it, goes beside the daemon.
if(TARGET teslo-check)
  install(TARGETS teslo-check RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
endif()
install(TARGETS teslo-try RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})

# Installs one configuration file unless a file of that name is already there.
# file(INSTALL) puts DESTDIR in front of the absolute destination itself.
function(teslo_install_config source destination_dir)
  get_filename_component(name "${source}" NAME)
  set(target "${destination_dir}/${name}")
  install(CODE "
    if(EXISTS \"\$ENV{DESTDIR}${target}\")
      message(STATUS \"Keeping existing: \$ENV{DESTDIR}${target}\")
    else()
      file(INSTALL DESTINATION \"${destination_dir}\" TYPE FILE
           PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ
           FILES \"${source}\")
    endif()")
  set_property(GLOBAL APPEND PROPERTY TESLO_CONFFILES "${target}")
endfunction()

teslo_install_config(${CMAKE_SOURCE_DIR}/etc/orvane/orvane.conf ${TESLO_SPAM_CONFIG_DIR})

# The example copy rules and their DTD: installed when the source tree has
# them. The glob is re-checked at build time, so adding them re-configures.
file(GLOB TESLO_COPY_RULE_FILES CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/etc/teslo/teslo.xml
     ${CMAKE_SOURCE_DIR}/etc/teslo/teslo.dtd)
foreach(file ${TESLO_COPY_RULE_FILES})
  teslo_install_config(${file} ${TESLO_COPY_RULE_DIR})
endforeach()

install(FILES ${CMAKE_SOURCE_DIR}/packaging/teslo.service
        DESTINATION ${TESLO_SYSTEMD_UNIT_DIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Manual pages: each page in man/ is a template whose version the build
# fills in (cmake/man_page.cmake); then compressed, as Debian installs them.
set(TESLO_MAN_PAGES man8/teslo.8 man5/orvane.conf.5 man5/teslo.xml.5)
if(EXISTS ${CMAKE_SOURCE_DIR}/man/teslo-check.8)
  list(APPEND TESLO_MAN_PAGES man8/teslo-check.8)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/man/teslo-try.8)
  list(APPEND TESLO_MAN_PAGES man8/teslo-try.8)
endif()
set(TESLO_MAN_OUTPUTS)
foreach(page ${TESLO_MAN_PAGES})
  get_filename_component(section_dir ${page} DIRECTORY)
  get_filename_component(name ${page} NAME)
  set(source ${CMAKE_SOURCE_DIR}/man/${name})
  set(filled ${CMAKE_BINARY_DIR}/man/${name})
  set(output ${CMAKE_BINARY_DIR}/man/${name}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DTEMPLATE=${source} -DPAGE=${filled}
            -DTESLO_VERSION=${TESLO_VERSION} -P ${CMAKE_SOURCE_DIR}/cmake/man_page.cmake
    COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" sh ${filled} ${output}
    DEPENDS ${source} ${CMAKE_SOURCE_DIR}/cmake/man_page.cmake ${CMAKE_SOURCE_DIR}/VERSION
    COMMENT "Filling in and compressing manual page ${name}"
    VERBATIM)
  list(APPEND TESLO_MAN_OUTPUTS ${output})
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/${section_dir}
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${TESLO_MAN_OUTPUTS})

if(EXISTS ${CMAKE_SOURCE_DIR}/README.md)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
