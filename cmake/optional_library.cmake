# Libraries a part of the programs can do without: found the same way in
# every folder that uses one, linked when found, and named at configure time
# when not (the part then refuses its work with a reason).
include_guard(GLOBAL)

# Sets <out> to the imported target of a library, or to "" when there is none.
#   PACKAGE <name> TARGET <target>: the library's CMake package and the target
#     it defines. With PKG_CONFIG it is looked for only in a cross build (the
#     kit's package; the host's is of no use there), otherwise everywhere
#     (CMake's own Find<name> module).
#   PKG_CONFIG <module>: on the host the library comes from pkg-config (a
#     Debian CMake package may name tools that only another package
#     installs); a cross build asks pkg-config too when PKG_CONFIG_LIBDIR
#     points at the kit.
#   KIT_DLLS: what a Windows build deploys beside the programs (packaging/)
#     when the kit's package gave the library.
function(kelvane_find_optional_library out)
  cmake_parse_arguments(PARSE_ARGV 1 lib "" "PACKAGE;TARGET;PKG_CONFIG" "KIT_DLLS")
  if(NOT lib_PKG_CONFIG)
    find_package(${lib_PACKAGE} QUIET)
  elseif(CMAKE_CROSSCOMPILING)
    find_package(${lib_PACKAGE} CONFIG QUIET)
  endif()
  if(TARGET ${lib_TARGET})
    set(${out} ${lib_TARGET} PARENT_SCOPE)
    if(CMAKE_CROSSCOMPILING AND lib_KIT_DLLS)
      set_property(GLOBAL APPEND PROPERTY KELVANE_KIT_LIBRARIES ${lib_KIT_DLLS})
    endif()
    return()
  endif()
  set(${out} "" PARENT_SCOPE)
  if(NOT lib_PKG_CONFIG OR (CMAKE_CROSSCOMPILING AND NOT DEFINED ENV{PKG_CONFIG_LIBDIR}))
    return()
  endif()
  find_package(PkgConfig QUIET)
  if(NOT PkgConfig_FOUND)
    return()
  endif()
  string(MAKE_C_IDENTIFIER "KELVANE_${lib_PKG_CONFIG}" prefix)
  pkg_check_modules(${prefix} QUIET IMPORTED_TARGET GLOBAL ${lib_PKG_CONFIG})
  if(TARGET PkgConfig::${prefix})
    set(${out} PkgConfig::${prefix} PARENT_SCOPE)
  endif()
endfunction()

# Links <target> with <library> (a target from kelvane_find_optional_library)
# and defines DEFINE (if given) for the target's own sources; an empty <library> prints
# MISSING instead.
#   PUBLIC: the library's headers are part of <target>'s (PRIVATE otherwise).
function(kelvane_link_optional_library target library)
  cmake_parse_arguments(PARSE_ARGV 2 lib "PUBLIC" "DEFINE;MISSING" "")
  if(NOT library)
    message(STATUS "${lib_MISSING}")
    return()
  endif()
  if(lib_PUBLIC)
    target_link_libraries(${target} PUBLIC ${library})
  else()
    target_link_libraries(${target} PRIVATE ${library})
  endif()
  if(lib_DEFINE)
    target_compile_definitions(${target} PRIVATE ${lib_DEFINE})
  endif()
endfunction()
