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
# Included last, once every target it names exists.
include(CMakePackageConfigHelpers)

set(VARNOK_INSTALL_PACKAGE_DIR lib/cmake/varnok)

# Each installed binary finds the project's shared libraries relative to
# itself, wherever the tree is installed.
set(programs Velmora Quorra_demo SISO Brinell Calder Fractor Dunmore Farrow varnok-batch varnok-plant varnok-ua varnok-record varnok-export
             varnok-experiment)
set_target_properties(${programs} PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
install(TARGETS ${programs} RUNTIME DESTINATION bin)
get_property(plugins GLOBAL PROPERTY VARNOK_PLUGINS)
set_target_properties(${plugins} PROPERTIES INSTALL_RPATH "$ORIGIN/..")
install(TARGETS ${plugins} LIBRARY DESTINATION lib/varnok)

# The SDK of a plant plug-in: exported with its headers.
set(sdk corvex corvex_gate varnok_common varnok_frame varnok_model_sdk OPCGatePy)
set(libraries Quorra Tessaly hublet tsdbpy)
set_target_properties(corvex_gate PROPERTIES EXPORT_NAME gate)
set_target_properties(varnok_common PROPERTIES EXPORT_NAME common)
set_target_properties(varnok_frame PROPERTIES EXPORT_NAME frame)
set_target_properties(varnok_model_sdk PROPERTIES EXPORT_NAME model_sdk)
set_target_properties(corvex corvex_gate varnok_frame OPCGatePy ${libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS ${sdk} EXPORT varnokTargets
  LIBRARY DESTINATION lib
  ARCHIVE DESTINATION lib
  INCLUDES DESTINATION include)
install(TARGETS ${libraries} LIBRARY DESTINATION lib)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/corvex/include/corvex
                  ${PROJECT_SOURCE_DIR}/src/varnok/common/include/varnok
                  ${PROJECT_SOURCE_DIR}/src/varnok/frame/include/varnok
                  ${PROJECT_SOURCE_DIR}/platform/OPCGatePy/include/OPCGatePy
        DESTINATION include)
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
