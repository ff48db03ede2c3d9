# How this project's own targets are compiled and linked: the language standard, the
# warnings, the sanitizer and fuzzing builds, and the hardening of the Debian packages.
# All of it is set on targets, never on the directory, so a project that includes this
# tree keeps its own flags and ours do not leak into it.
#
# wordgen_apply_settings_to_directory(DIR), called once at the end of the top
# CMakeLists.txt, walks DIR and every folder added below it and applies the settings to
# each library and executable defined there: a target added anywhere in this tree (a new
# test, a new platform's source, another build's library) gets them without being named.

# The packages are built with Debian's own flags, as dpkg-buildflags gives them with every
# hardening feature: fortified functions, the stack protector, read-only relocations bound
# at load (relro, bindnow). The optimisation level stays the build type's, and -g is left
# out, as the packages are stripped and no debug-symbol package is made.
if(WORDGEN_PACKAGE)
  find_program(DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
  foreach(kind CPPFLAGS CXXFLAGS CFLAGS LDFLAGS)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                            ${DPKG_BUILDFLAGS} --get ${kind}
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags EXCLUDE REGEX "^-(O.*|g)$")
    set(wordgen_debian_${kind} ${flags})
  endforeach()
  # Level 3 of the fortified functions (GCC 12, glibc 2.34) also checks copies into
  # buffers whose size is known only at run time, as most of ours are: at level 2 none of
  # the program's calls could be checked.
  list(TRANSFORM wordgen_debian_CPPFLAGS REPLACE "^-D_FORTIFY_SOURCE=2$" "-D_FORTIFY_SOURCE=3")
  # The compiler's version stamp (.comment) is a section Debian strips from what it ships.
  set(wordgen_debian_compile_options ${wordgen_debian_CPPFLAGS} -fno-ident)
  set(wordgen_debian_cxx_options ${wordgen_debian_CXXFLAGS})
  set(wordgen_debian_c_options ${wordgen_debian_CFLAGS})
  set(wordgen_debian_link_options ${wordgen_debian_LDFLAGS})
endif()

# wordgen_apply_settings(TARGET): the settings of one of our targets.
function(wordgen_apply_settings target)
  get_target_property(type ${target} TYPE)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 20 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  # Float-to-integer casts out of range are undefined too, but not part of "undefined".
  if(WORDGEN_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined,float-cast-overflow
                           -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined,float-cast-overflow)
  endif()
  if(WORDGEN_FUZZ)
    # Coverage for the fuzzer and the sanitizers in every library, so a fault anywhere
    # under a target's entry point is seen; the targets alone link libFuzzer's main.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined,float-cast-overflow
                           -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined,float-cast-overflow)
  endif()
  if(WORDGEN_PACKAGE)
    target_compile_options(${target} PRIVATE ${wordgen_debian_compile_options}
                           $<$<COMPILE_LANGUAGE:CXX>:${wordgen_debian_cxx_options}>
                           $<$<COMPILE_LANGUAGE:C>:${wordgen_debian_c_options}>)
    target_link_options(${target} PRIVATE ${wordgen_debian_link_options})
    get_target_property(folder ${target} SOURCE_DIR)
    if(type STREQUAL "EXECUTABLE" AND folder STREQUAL PROJECT_SOURCE_DIR)
      # The C runtime's start files bring their own .comment, which -fno-ident cannot drop.
      # (Only for the top folder's programs, where a build step can be attached: the
      # program the packages ship is one of them.)
      add_custom_command(TARGET ${target} POST_BUILD
                         COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:${target}> VERBATIM)
    endif()
  endif()
endfunction()

function(wordgen_apply_settings_to_directory directory)
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    get_target_property(imported ${target} IMPORTED)
    if(NOT imported AND type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
      wordgen_apply_settings(${target})
    endif()
  endforeach()
  get_property(folders DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(folder ${folders})
    wordgen_apply_settings_to_directory(${folder})
  endforeach()
endfunction()
