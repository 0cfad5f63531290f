# orv_unit(NAME DEPS...): a static library from every .cpp in the unit's folder and its
# subfolders (a unit's folders group its files by concern).
# Sources are globbed so that adding a file needs no edit here.
function(orv_unit name)
  file(GLOB_RECURSE _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB_RECURSE _hdr CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_library(${name} STATIC ${_src} ${_hdr})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARGN})
endfunction()
