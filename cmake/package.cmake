# The Debian packages `./build.sh package` makes with CPack, one per install component:
# wordgen (the program and its manual page) and wordgen-dev (everything to build on the
# libraries). Their dependencies come from the binaries themselves (dpkg-shlibdeps).
# Included only with WORDGEN_PACKAGE (the `package` preset), which also builds every
# target with Debian's hardening flags (cmake/settings.cmake); the copyright and
# changelog are installed by cmake/install.cmake.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wordgen)
set(CPACK_PACKAGE_VENDOR "the wordgen developers")
set(CPACK_PACKAGE_CONTACT "wordgen maintainers <maintainers@users.noreply.c-seed-ca81b21b.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME ${wordgen_doc_folder_tool})
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
# In each description the first line is the synopsis; CPack indents the others. No
# package-wide summary is set, as CPack would put it before every description.
set(CPACK_DEBIAN_TOOL_DESCRIPTION "pronounceable random pseudo-word generator
wordgen prints words that can be read aloud but mean nothing, such as wywaxu
or pavnex, drawn from weighted sound tables by one seeded generator: the same
seed and options always give the same words, on every machine. The words are
reproducible, not secret, and must not be used as passwords.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${wordgen_doc_folder_development})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "development files for the wordgen libraries
The runtime library of wordgen (console text, files, directories and
processes, images and audio over caller-supplied memory, scalar math) and its
word synthesis, as static libraries with their headers, a CMake package
(find_package(wordgen)) and pkg-config files (wordgen-runtime,
wordgen-synthesis).")

# A program built on the static libraries links what they link, so wordgen-dev depends on
# the development packages of those pkg-config modules: whichever Debian package holds
# each module's .pc file here. The CMake package also runs pkg-config to find them.
find_program(DPKG_QUERY dpkg-query)
set(wordgen_dev_depends pkg-config)
foreach(module ${wordgen_pkg_modules})
  if(NOT DPKG_QUERY)
    break()
  endif()
  execute_process(COMMAND ${PKG_CONFIG_EXECUTABLE} --variable=pcfiledir ${module}
                  OUTPUT_VARIABLE pc_dir OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${DPKG_QUERY} -S ${pc_dir}/${module}.pc
                  OUTPUT_VARIABLE owner RESULT_VARIABLE owner_status OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT owner_status EQUAL 0 OR NOT owner MATCHES "^([^:,]+)")
    message(FATAL_ERROR "no Debian package holds ${pc_dir}/${module}.pc")
  endif()
  list(APPEND wordgen_dev_depends ${CMAKE_MATCH_1})
endforeach()
list(JOIN wordgen_dev_depends ", " CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS)

# The one lintian finding the program keeps, with why, where lintian looks for it.
install(FILES ${PROJECT_SOURCE_DIR}/doc/lintian-overrides RENAME ${wordgen_doc_folder_tool}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT tool)

include(CPack)
