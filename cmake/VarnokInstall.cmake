# `cmake --install`: programs in bin/ (the launcher's icon in bin/pics/),
# shared libraries in lib/, plant plug-ins in lib/varnok/ (where a program
# looks for them: <program dir>/../lib), the framework headers in include/,
# and the CMake package `varnok` through which a user builds a plant plug-in
# of their own:
#
#   find_package(varnok REQUIRED)
#   target_link_libraries(myplant PRIVATE varnok::model_sdk)
#
# Targets exported: varnok::corvex, varnok::frame, varnok::model_sdk (the two
# together), varnok::gate (SimulinkOPCGateTask) and varnok::OPCGatePy.
#
# The rules run at the end of this directory's configuration, so they can
# name targets that are added after this file is included.
include(CMakePackageConfigHelpers)

set(VARNOK_INSTALL_PACKAGE_DIR lib/cmake/varnok)

function(_varnok_install_rules)
  # Each installed binary finds the project's shared libraries relative to
  # itself, wherever the tree is installed.
  set(programs Velmora Quorra_demo SISO Brinell Calder Fractor Dunmore Farrow varnok-batch varnok-ua varnok-record)
  set(libraries corvex corvex_gate varnok_frame OPCGatePy Quorra Tessaly hublet tsdbpy)
  get_property(plugins GLOBAL PROPERTY VARNOK_PLUGINS)
  foreach(kind programs libraries plugins)
    set(present_${kind})
    foreach(target IN LISTS ${kind})
      if(TARGET ${target})
        list(APPEND present_${kind} ${target})
      endif()
    endforeach()
  endforeach()
  if(present_programs)
    set_target_properties(${present_programs} PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
    install(TARGETS ${present_programs} RUNTIME DESTINATION bin)
  endif()
  if(present_plugins)
    set_target_properties(${present_plugins} PROPERTIES INSTALL_RPATH "$ORIGIN/..")
    install(TARGETS ${present_plugins} LIBRARY DESTINATION lib/varnok)
  endif()

  # The SDK of a plant plug-in: exported with its headers.
  set(sdk corvex corvex_gate varnok_frame varnok_model_sdk)
  if(TARGET OPCGatePy)
    list(APPEND sdk OPCGatePy)
  endif()
  set_target_properties(corvex_gate PROPERTIES EXPORT_NAME gate)
  set_target_properties(varnok_frame PROPERTIES EXPORT_NAME frame)
  set_target_properties(varnok_model_sdk PROPERTIES EXPORT_NAME model_sdk)
  list(REMOVE_ITEM present_libraries ${sdk})
  set_target_properties(${sdk} ${present_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${sdk} EXPORT varnokTargets
    LIBRARY DESTINATION lib
    ARCHIVE DESTINATION lib
    INCLUDES DESTINATION include)
  if(present_libraries)
    install(TARGETS ${present_libraries} LIBRARY DESTINATION lib)
  endif()
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/corvex/include/corvex
                    ${PROJECT_SOURCE_DIR}/src/varnok/frame/include/varnok
          DESTINATION include)
  if(TARGET OPCGatePy)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/OPCGatePy/include/OPCGatePy DESTINATION include)
  endif()
  install(EXPORT varnokTargets NAMESPACE varnok:: DESTINATION ${VARNOK_INSTALL_PACKAGE_DIR})

  set(config ${PROJECT_BINARY_DIR}/varnokConfig.cmake)
  file(WRITE ${config}
    "# varnok's plant-plug-in SDK. See cmake/VarnokInstall.cmake in varnok's sources.\n"
    "include(\${CMAKE_CURRENT_LIST_DIR}/varnokTargets.cmake)\n")
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/varnokConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
  install(FILES ${config} ${PROJECT_BINARY_DIR}/varnokConfigVersion.cmake
          DESTINATION ${VARNOK_INSTALL_PACKAGE_DIR})

  # The launcher resolves its icon next to its program file.
  install(FILES ${PROJECT_SOURCE_DIR}/pics/pet.ico DESTINATION bin/pics)
endfunction()

cmake_language(DEFER CALL _varnok_install_rules)
