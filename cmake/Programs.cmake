# The programs shipped beside vornctl: the setup program, the delivery agent
# and the generator of the man page and bash completion, plus the pages and
# completion it writes. Included from Packaging.cmake.
include(GNUInstallDirs)

set(VORNCTL_DELIVER_PATH ${CMAKE_INSTALL_FULL_LIBEXECDIR}/vornctl/vornctl-deliver)
set(VORNCTL_FILTER_PATH ${CMAKE_INSTALL_FULL_LIBEXECDIR}/vornctl/vornctl-filter)
set(VORNCTL_AUTORESPONDER_PATH ${CMAKE_INSTALL_FULL_LIBEXECDIR}/vornctl/vornctl-autoresponder)
set(VORNCTL_REMOTE_PATH ${CMAKE_INSTALL_FULL_LIBEXECDIR}/vornctl/vornctl-remote)

file(GLOB VORNCTL_SETUP_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/setup/*.cpp)
add_executable(vornctl-setup ${VORNCTL_SETUP_SOURCES})
target_include_directories(vornctl-setup PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_definitions(vornctl-setup PRIVATE VORNCTL_DELIVER_PATH="${VORNCTL_DELIVER_PATH}"
  VORNCTL_FILTER_PATH="${VORNCTL_FILTER_PATH}"
  VORNCTL_AUTORESPONDER_PATH="${VORNCTL_AUTORESPONDER_PATH}"
  VORNCTL_REMOTE_PATH="${VORNCTL_REMOTE_PATH}")
target_link_libraries(vornctl-setup PRIVATE korvo_postfix korvo_mail korvo_process korvo_utils
  PkgConfig::SQLITE3 Boost::program_options)

file(GLOB VORNCTL_DELIVER_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/deliver/*.cpp)
add_executable(vornctl-deliver ${VORNCTL_DELIVER_SOURCES})
target_include_directories(vornctl-deliver PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(vornctl-deliver PRIVATE korvo_handlers korvo_utils)
# Postfix starts the agent once per message. With the C++ runtime,
# Boost.Filesystem and libidn linked in it loads only the C library, as
# deliverquota does, and starts as quickly (bench/DeliverBench). Sanitizer
# and fuzzing builds link as everything else does.
if(NOT VORNCTL_SANITIZE AND NOT VORNCTL_FUZZ)
  find_library(VORNCTL_BOOST_FILESYSTEM_ARCHIVE libboost_filesystem.a REQUIRED)
  find_library(VORNCTL_IDN_ARCHIVE libidn.a REQUIRED)
  target_link_libraries(vornctl-deliver PRIVATE korvo_mail korvo_utils
    ${VORNCTL_BOOST_FILESYSTEM_ARCHIVE} ${VORNCTL_IDN_ARCHIVE})
  target_link_options(vornctl-deliver PRIVATE -static-libstdc++ -static-libgcc)
endif()

# The before-queue filter that master.cf's spawn service runs.
file(GLOB VORNCTL_FILTER_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/filter/*.cpp)
add_executable(vornctl-filter ${VORNCTL_FILTER_SOURCES})
target_include_directories(vornctl-filter PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(vornctl-filter PRIVATE korvo_handlers)
# spawn starts one filter per SMTP session: no C++ runtime to load each time.
target_link_options(vornctl-filter PRIVATE -static-libstdc++ -static-libgcc)

# The transport that runs the before-remote handlers.
file(GLOB VORNCTL_REMOTE_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/remote/*.cpp)
add_executable(vornctl-remote ${VORNCTL_REMOTE_SOURCES})
target_include_directories(vornctl-remote PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(vornctl-remote PRIVATE korvo_handlers korvo_utils)
target_link_options(vornctl-remote PRIVATE -static-libstdc++ -static-libgcc)

# The autoresponder hook; setup links the registry's hook path to it.
file(GLOB VORNCTL_AUTORESPONDER_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/src/autoresponder/*.cpp)
add_executable(vornctl-autoresponder ${VORNCTL_AUTORESPONDER_SOURCES})
target_include_directories(vornctl-autoresponder PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(vornctl-autoresponder PRIVATE korvo_handlers korvo_utils PkgConfig::MARIADB)

file(GLOB VORNCTL_DOCGEN_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/doc/*.cpp)
add_executable(vornctl-docgen ${VORNCTL_DOCGEN_SOURCES})
target_link_libraries(vornctl-docgen PRIVATE korvo)

set(VORNCTL_DOC_DIR ${PROJECT_BINARY_DIR}/doc)
file(MAKE_DIRECTORY ${VORNCTL_DOC_DIR})
configure_file(${PROJECT_SOURCE_DIR}/src/doc/vornctl-setup.8.in ${VORNCTL_DOC_DIR}/vornctl-setup.8 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/src/doc/vornctl-deliver.8.in ${VORNCTL_DOC_DIR}/vornctl-deliver.8 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/src/doc/vornctl-handlers.7.in ${VORNCTL_DOC_DIR}/vornctl-handlers.7 @ONLY)
add_custom_command(
  OUTPUT ${VORNCTL_DOC_DIR}/vornctl.8
  COMMAND vornctl-docgen man ${VORNCTL_DOC_DIR}/vornctl.8
  DEPENDS vornctl-docgen
  COMMENT "Writing vornctl(8) from the command table")
# The options come from the built tool itself: "vornctl COMMAND --help" for
# every command with options. Leak checks of a sanitizer build have no
# business failing the build there.
add_custom_command(
  OUTPUT ${VORNCTL_DOC_DIR}/vornctl.bash-completion
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
    $<TARGET_FILE:vornctl-docgen> bash-completion ${VORNCTL_DOC_DIR}/vornctl.bash-completion
    $<TARGET_FILE:vornctl>
  DEPENDS vornctl-docgen vornctl
  COMMENT "Writing the bash completion of vornctl from its commands' options")
set(VORNCTL_MAN_PAGES)
foreach(page vornctl.8 vornctl-setup.8 vornctl-deliver.8 vornctl-handlers.7)
  add_custom_command(
    OUTPUT ${VORNCTL_DOC_DIR}/${page}.gz
    COMMAND gzip -9 -n -c ${VORNCTL_DOC_DIR}/${page} > ${VORNCTL_DOC_DIR}/${page}.gz
    DEPENDS ${VORNCTL_DOC_DIR}/${page}
    VERBATIM)
  list(APPEND VORNCTL_MAN_PAGES ${VORNCTL_DOC_DIR}/${page}.gz)
endforeach()
add_custom_target(vornctl-docs ALL
  DEPENDS ${VORNCTL_MAN_PAGES} ${VORNCTL_DOC_DIR}/vornctl.bash-completion)

# The test programs of these tools run them from the build tree.
foreach(test_target test_setup test_deliver test_flow test_filter test_handlers test_autoresponder)
  if(TARGET ${test_target})
    add_dependencies(${test_target} vornctl-setup vornctl-deliver vornctl-filter
      vornctl-autoresponder vornctl-remote vornctl-docs)
    target_compile_definitions(${test_target} PRIVATE
      VORNCTL_SETUP_BINARY="$<TARGET_FILE:vornctl-setup>"
      VORNCTL_DELIVER_BINARY="$<TARGET_FILE:vornctl-deliver>"
      VORNCTL_FILTER_BINARY="$<TARGET_FILE:vornctl-filter>"
      VORNCTL_AUTORESPONDER_BINARY="$<TARGET_FILE:vornctl-autoresponder>"
      VORNCTL_REMOTE_BINARY="$<TARGET_FILE:vornctl-remote>"
      VORNCTL_DOC_DIR="${VORNCTL_DOC_DIR}"
      VORNCTL_CPACK_CONFIG="${PROJECT_BINARY_DIR}/CPackConfig.cmake"
      VORNCTL_CPACK="${CMAKE_CPACK_COMMAND}")
  endif()
endforeach()

# The filter benchmark runs the built filter through the sandbox's Postfix.
if(TARGET FilterBench)
  add_dependencies(FilterBench vornctl-filter)
  target_compile_definitions(FilterBench PRIVATE
    VORNCTL_FILTER_BINARY="$<TARGET_FILE:vornctl-filter>")
endif()

# The autoresponder's tests link its sources beside the test program's own.
if(TARGET test_autoresponder)
  file(GLOB VORNCTL_AUTORESPONDER_LIBRARY_SOURCES CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/src/autoresponder/*.cpp)
  list(FILTER VORNCTL_AUTORESPONDER_LIBRARY_SOURCES EXCLUDE REGEX ".*/main\\.cpp$")
  target_sources(test_autoresponder PRIVATE ${VORNCTL_AUTORESPONDER_LIBRARY_SOURCES})
  target_include_directories(test_autoresponder PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(test_autoresponder PRIVATE PkgConfig::MARIADB)
endif()
