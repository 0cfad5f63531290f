# orv_unit(NAME DEPS... [DIR FOLDER] [EXCLUDE FILE...]): a static library from every .cpp in
# the unit's folder and its subfolders (a unit's folders group its files by concern), or
# in FOLDER of it only (a unit built in layers, one library per folder), except the
# EXCLUDEd files and folders (paths relative to the unit's folder, built by targets of
# their own).
# Sources are globbed so that adding a file needs no edit here.
function(orv_unit name)
  cmake_parse_arguments(U "" "DIR" "EXCLUDE" ${ARGN})
  set(_dir ${CMAKE_CURRENT_SOURCE_DIR})
  if(U_DIR)
    set(_dir ${_dir}/${U_DIR})
  endif()
  file(GLOB_RECURSE _src CONFIGURE_DEPENDS ${_dir}/*.cpp)
  file(GLOB_RECURSE _hdr CONFIGURE_DEPENDS ${_dir}/*.h)
  foreach(_x IN LISTS U_EXCLUDE)
    set(_x ${CMAKE_CURRENT_SOURCE_DIR}/${_x})
    foreach(_f IN LISTS _src _hdr)
      cmake_path(IS_PREFIX _x ${_f} _inside)
      if(_inside)
        list(REMOVE_ITEM _src ${_f})
        list(REMOVE_ITEM _hdr ${_f})
      endif()
    endforeach()
  endforeach()
  add_library(${name} STATIC ${_src} ${_hdr})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${U_UNPARSED_ARGUMENTS})
endfunction()

# orv_layer_check(TARGET LAYER DEPS...): links LAYER's objects with DEPS alone into a
# shared library that may leave nothing undefined, so that a layer calling into one above
# it fails to build instead of linking by luck of order in the programs. TARGET (what the
# programs link in the layers' place) waits for the check; none when it is "".
function(orv_layer_check target layer)
  add_library(${layer}LayerCheck SHARED $<TARGET_OBJECTS:${layer}>)
  target_link_libraries(${layer}LayerCheck PRIVATE ${ARGN})
  target_link_options(${layer}LayerCheck PRIVATE -Wl,--no-undefined)
  if(target)
    add_dependencies(${target} ${layer}LayerCheck)
  endif()
endfunction()

# orv_unit_check(UNIT DEPS...): the same check for a unit above Host, DEPS being what it
# may call. The unit's tests and the package wait for it.
function(orv_unit_check unit)
  orv_layer_check("" ${unit} ${ARGN})
  set_property(GLOBAL APPEND PROPERTY ORV_UNIT_CHECKS ${unit}LayerCheck)
endfunction()
