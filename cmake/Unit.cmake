# orv_unit(NAME DEPS... [EXCLUDE FILE...]): a static library from every .cpp in the unit's
# folder and its subfolders (a unit's folders group its files by concern), except the
# EXCLUDEd ones (paths relative to the unit's folder, built by targets of their own).
# Sources are globbed so that adding a file needs no edit here.
function(orv_unit name)
  cmake_parse_arguments(U "" "" "EXCLUDE" ${ARGN})
  file(GLOB_RECURSE _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB_RECURSE _hdr CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(_x IN LISTS U_EXCLUDE)
    list(REMOVE_ITEM _src ${CMAKE_CURRENT_SOURCE_DIR}/${_x})
    list(REMOVE_ITEM _hdr ${CMAKE_CURRENT_SOURCE_DIR}/${_x})
  endforeach()
  add_library(${name} STATIC ${_src} ${_hdr})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${U_UNPARSED_ARGUMENTS})
endfunction()
