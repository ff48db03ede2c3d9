# What `cmake --install` puts under its prefix, in two components that the Debian
# packages follow: `tool` (the program and its manual page) and `development` (the
# libraries, their headers, the CMake package and the pkg-config files). Everything is
# named after the project, so nothing lands on a generic name such as include/runtime.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The headers a program built on the libraries includes, and nothing else: the platform
# layer, the image guard and codec, the sound-file and Vorbis bindings, the decoder choice
# and the readers under them stay private. Paths from the source root; each is installed
# at the same path under include/wordgen/. A header listed here may include only headers
# listed here (tests/install/check_headers.sh compiles each installed one alone).
set(wordgen_public_headers
  runtime/runtime.h
  runtime/text/slice.h
  runtime/text/print.h
  runtime/text/format.h
  runtime/system/temporary.h
  runtime/system/file.h
  runtime/system/system.h
  runtime/system/directory.h
  runtime/media/pool.h
  runtime/media/image.h
  runtime/media/audio_format.h
  runtime/media/audio_wave.h
  runtime/media/audio_stream.h
  runtime/math/math.h
  # The words library has one header; the rest of synthesis/ is its machinery.
  synthesis/synthesis.h
)

# The libraries a program built on ours links, each with its export name and its
# pkg-config description; every library one of them links must be in this list too.
set(wordgen_libraries runtime synthesis)
set(wordgen_runtime_description "Console text, files, directories, images, audio and math over caller-supplied memory")
set(wordgen_synthesis_description "The words of wordgen: a seeded generator and word assembly")
set(wordgen_include_subdir wordgen)
set(wordgen_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/wordgen)
set(wordgen_pkgconfig_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

option(WORDGEN_COMPRESS_MAN "Install the manual page gzip-compressed, as Debian packages carry it" OFF)

# The manual page names the version it documents (@PROJECT_VERSION@ in its title).
configure_file(${PROJECT_SOURCE_DIR}/doc/wordgen.1 ${PROJECT_BINARY_DIR}/wordgen.1 @ONLY)
if(WORDGEN_COMPRESS_MAN)
  find_program(GZIP gzip REQUIRED)
  # -n leaves out the name and time, so a rebuild gives the same bytes.
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/wordgen.1.gz
                     COMMAND ${GZIP} -9 -n -c ${PROJECT_BINARY_DIR}/wordgen.1 > ${PROJECT_BINARY_DIR}/wordgen.1.gz
                     DEPENDS ${PROJECT_BINARY_DIR}/wordgen.1 VERBATIM)
  add_custom_target(wordgen_man ALL DEPENDS ${PROJECT_BINARY_DIR}/wordgen.1.gz)
  set(wordgen_man_page ${PROJECT_BINARY_DIR}/wordgen.1.gz)
else()
  set(wordgen_man_page ${PROJECT_BINARY_DIR}/wordgen.1)
endif()

install(TARGETS wordgen RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
install(FILES ${wordgen_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)

foreach(library ${wordgen_libraries})
  set_target_properties(${library} PROPERTIES EXPORT_NAME ${library})
  target_include_directories(${library} INTERFACE
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/${wordgen_include_subdir}>)
endforeach()
install(TARGETS ${wordgen_libraries} EXPORT wordgen_targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
foreach(header ${wordgen_public_headers})
  cmake_path(GET header PARENT_PATH folder)
  install(FILES ${PROJECT_SOURCE_DIR}/${header}
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${wordgen_include_subdir}/${folder}
          COMPONENT development)
endforeach()
# The list, for the checks of the install tree and the packages.
list(JOIN wordgen_public_headers "\n" headers_text)
file(WRITE ${PROJECT_BINARY_DIR}/public_headers.txt "${headers_text}\n")

# The third-party libraries our libraries link, as pkg-config found them. The CMake
# package finds them again on the consumer's machine, and the pkg-config files name them,
# so that a consumer never lists them itself.
set(wordgen_pkg_prefixes "")
set(wordgen_pkg_modules "")
foreach(library ${wordgen_libraries})
  get_target_property(linked ${library} LINK_LIBRARIES)
  foreach(item ${linked})
    if(item IN_LIST wordgen_libraries)
      continue()
    elseif(item MATCHES "^PkgConfig::(.+)$")
      set(prefix ${CMAKE_MATCH_1})
      if(NOT ${prefix}_MODULE_NAME)
        message(FATAL_ERROR "${library} links ${item}, whose pkg-config module is not known")
      endif()
      if(NOT prefix IN_LIST wordgen_pkg_prefixes)
        list(APPEND wordgen_pkg_prefixes ${prefix})
        list(APPEND wordgen_pkg_modules ${${prefix}_MODULE_NAME})
      endif()
      set(wordgen_${library}_modules "${wordgen_${library}_modules} ${${prefix}_MODULE_NAME}")
    elseif(TARGET ${item} OR item MATCHES "\\$<")
      message(FATAL_ERROR "${library} links ${item}, which a program built on it cannot find")
    elseif(item MATCHES "^-")
      set(wordgen_${library}_libs "${wordgen_${library}_libs} ${item}")
    else()
      set(wordgen_${library}_libs "${wordgen_${library}_libs} -l${item}")
    endif()
  endforeach()
endforeach()

# The CMake package: find_package(wordgen CONFIG) gives wordgen::runtime and
# wordgen::synthesis, with everything they need to link.
install(EXPORT wordgen_targets NAMESPACE wordgen:: FILE wordgenTargets.cmake
        DESTINATION ${wordgen_cmake_dir} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/wordgenConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/wordgenConfig.cmake
                              INSTALL_DESTINATION ${wordgen_cmake_dir})
# Until the first major release breaks something, any later minor version will do.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/wordgenConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/wordgenConfig.cmake ${PROJECT_BINARY_DIR}/wordgenConfigVersion.cmake
        DESTINATION ${wordgen_cmake_dir} COMPONENT development)

# The pkg-config files find their prefix from where they lie, so that the prefix given
# to `cmake --install --prefix` (rather than the one configured) is the one they name.
# The libraries are static, so what they link is required outright, not only for
# --static: a plain `pkg-config --libs` must give a command line that links.
file(RELATIVE_PATH pc_prefix_from_pcfiledir /${wordgen_pkgconfig_dir} /)
string(REGEX REPLACE "/$" "" pc_prefix_from_pcfiledir "${pc_prefix_from_pcfiledir}")
set(wordgen_synthesis_requires_installed wordgen-runtime)
foreach(library ${wordgen_libraries})
  set(pc_name wordgen-${library})
  set(pc_description ${wordgen_${library}_description})
  string(STRIP "${wordgen_${library}_requires_installed} ${wordgen_${library}_modules}" pc_requires)
  string(STRIP "${wordgen_${library}_libs}" pc_libs)
  if(pc_libs)
    string(PREPEND pc_libs " ")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/wordgen.pc.in ${PROJECT_BINARY_DIR}/wordgen-${library}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/wordgen-${library}.pc DESTINATION ${wordgen_pkgconfig_dir}
          COMPONENT development)
endforeach()

# The licence and the history travel with both components, where Debian keeps them:
# doc/copyright is the licence in Debian's machine-readable form, for our files and for
# the stb code the runtime library carries.
configure_file(${PROJECT_SOURCE_DIR}/doc/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
find_program(GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
                   COMMAND ${GZIP} -9 -n -c ${PROJECT_BINARY_DIR}/changelog > ${PROJECT_BINARY_DIR}/changelog.gz
                   DEPENDS ${PROJECT_BINARY_DIR}/changelog VERBATIM)
add_custom_target(wordgen_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
set(wordgen_doc_folder_tool wordgen)
set(wordgen_doc_folder_development wordgen-dev)
foreach(component tool development)
  install(FILES ${PROJECT_SOURCE_DIR}/doc/copyright ${PROJECT_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${wordgen_doc_folder_${component}}
          COMPONENT ${component})
endforeach()
