# Build settings shared by every target of the project, carried by one interface target instead
# of directory-wide flags.
add_library(orv_build_flags INTERFACE)
target_compile_features(orv_build_flags INTERFACE cxx_std_17)
target_compile_options(orv_build_flags INTERFACE -Wall -Wextra)
if(ORV_SANITIZE)
  target_compile_options(orv_build_flags INTERFACE
      -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(orv_build_flags INTERFACE -fsanitize=address,undefined)
endif()

# The public tree: every header a host, a plug-in or a consumer of the installed package may
# include (the platform services and the UI interfaces). It is installed as it is.
set(ORV_PUBLIC_INCLUDE_DIR "${PROJECT_SOURCE_DIR}/include/OrvUIElements64t")

# orv_add_library(<name> SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...] [HEADERS ...])
# A shared library with hidden visibility; HEADERS are installed beside the others.
function(orv_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS;HEADERS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  add_library(OrvUIElements64t::${name} ALIAS ${name})
  set_target_properties(${name} PROPERTIES
      CXX_VISIBILITY_PRESET hidden
      VISIBILITY_INLINES_HIDDEN ON
      VERSION ${PROJECT_VERSION}
      SOVERSION ${PROJECT_VERSION_MAJOR})
  target_compile_definitions(${name} PRIVATE ORV_BUILDING_${name})
  target_include_directories(${name} PUBLIC
      $<BUILD_INTERFACE:${ORV_PUBLIC_INCLUDE_DIR}>
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/OrvUIElements64t>)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS}
                                PRIVATE $<BUILD_INTERFACE:orv_build_flags> ${ARG_PRIVATE_LIBS})
  install(TARGETS ${name} EXPORT OrvUIElements64tTargets
          LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
          RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  if(ARG_HEADERS)
    install(FILES ${ARG_HEADERS} DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/OrvUIElements64t")
  endif()
endfunction()

# orv_add_executable(<name> SOURCES ... [LIBS ...] [NO_INSTALL])
function(orv_add_executable name)
  cmake_parse_arguments(ARG "NO_INSTALL" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE orv_build_flags ${ARG_LIBS})
  if(NOT ARG_NO_INSTALL)
    install(TARGETS ${name} RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  endif()
endfunction()

# orv_add_plugin(<name> SOURCES ... [LIBS ...] [OUTPUT_DIR dir] [NO_INSTALL])
# A command plug-in: a loadable module named <name>.orvplugin with hidden visibility (only the
# entry symbols of ORV_DECLARE_PLUGIN are exported). It lands in ${ORV_OUTPUT_DIR}/plugins, where
# the host looks for plug-ins, unless OUTPUT_DIR says otherwise, and is installed into
# ${CMAKE_INSTALL_BINDIR}/plugins unless NO_INSTALL is given.
function(orv_add_plugin name)
  cmake_parse_arguments(ARG "NO_INSTALL" "OUTPUT_DIR" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_OUTPUT_DIR)
    set(ARG_OUTPUT_DIR "${ORV_OUTPUT_DIR}/plugins")
  endif()
  add_library(${name} MODULE ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES
      PREFIX ""
      SUFFIX ".orvplugin"
      CXX_VISIBILITY_PRESET hidden
      VISIBILITY_INLINES_HIDDEN ON
      LIBRARY_OUTPUT_DIRECTORY "${ARG_OUTPUT_DIR}")
  target_include_directories(${name} PRIVATE "${ORV_PUBLIC_INCLUDE_DIR}")
  target_link_libraries(${name} PRIVATE orv_build_flags ${ARG_LIBS})
  if(NOT ARG_NO_INSTALL)
    install(TARGETS ${name} LIBRARY DESTINATION "${CMAKE_INSTALL_BINDIR}/plugins")
  endif()
endfunction()

# orv_copy_icons(<target> <subfolder> <names...>): a target, built by default, that copies the
# icons icons/<subfolder>/<name>.png of the source tree into <appdir>/icons/<subfolder> of the
# build tree whenever one changes; the views and the host load them from there. An empty
# subfolder ("") means the icons folder itself.
function(orv_copy_icons target subfolder)
  set(dir "icons")
  if(subfolder)
    set(dir "icons/${subfolder}")
  endif()
  set(outputs "")
  foreach(name IN LISTS ARGN)
    set(icon "${PROJECT_SOURCE_DIR}/${dir}/${name}.png")
    set(out "${ORV_OUTPUT_DIR}/${dir}/${name}.png")
    add_custom_command(OUTPUT "${out}"
                       COMMAND ${CMAKE_COMMAND} -E copy_if_different "${icon}" "${out}"
                       DEPENDS "${icon}" VERBATIM)
    list(APPEND outputs "${out}")
  endforeach()
  add_custom_target(${target} ALL DEPENDS ${outputs})
endfunction()
