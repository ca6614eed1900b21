# varnok_add_model(NAME SOURCES ... ENTRY module.cpp OBJECT obj GROUP group)
#   NAME_model   static library with the model (tests link it directly)
#   NAME_plugin  the plug-in lib/varnok/NAME.so exporting the module
#   NAME         the program bin/NAME serving OBJECT on the gateway
function(varnok_add_model name)
  cmake_parse_arguments(ARG "" "ENTRY;OBJECT;GROUP" "SOURCES" ${ARGN})
  add_library(${name}_model STATIC ${ARG_SOURCES})
  target_link_libraries(${name}_model PUBLIC varnok::model_sdk)
  target_include_directories(${name}_model PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  set_target_properties(${name}_model PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

  add_library(${name}_plugin MODULE ${ARG_ENTRY})
  target_link_libraries(${name}_plugin PRIVATE ${name}_model)
  set_target_properties(${name}_plugin PROPERTIES
    OUTPUT_NAME ${name} PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${VARNOK_PLUGIN_DIR}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  set_property(GLOBAL APPEND PROPERTY VARNOK_PLUGINS ${name}_plugin)

  add_executable(${name} ${VARNOK_STANDALONE_MAIN} ${ARG_ENTRY})
  target_link_libraries(${name} PRIVATE ${name}_model varnok::serve)
  target_compile_definitions(${name} PRIVATE VARNOK_OBJECT_NAME="${ARG_OBJECT}" VARNOK_DEFAULT_GROUP="${ARG_GROUP}")
endfunction()
