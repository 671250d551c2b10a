# The layering check (tools/check_layering.py) reads the targets from what
# CMake itself made of the CMake files: for every target of this project, one
# line of fields separated by '|':
#   name | type | source folder | sources | direct links | interface links
# (lists separated by ';'). Direct links are LINK_LIBRARIES (PUBLIC and
# PRIVATE alike); the interface links tell PUBLIC from PRIVATE, whose entries
# CMake writes as $<LINK_ONLY:...>.
function(layering_collect_targets dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub ${subdirs})
    layering_collect_targets(${sub} found)
    list(APPEND targets ${found})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

function(layering_write_targets file)
  layering_collect_targets(${PROJECT_SOURCE_DIR} targets)
  set(text "")
  foreach(t ${targets})
    get_target_property(dir ${t} SOURCE_DIR)
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${dir}" NORMALIZE ours)
    if(NOT ours)
      continue()
    endif()
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "UTILITY")
      continue()
    endif()
    get_target_property(sources ${t} SOURCES)
    get_target_property(links ${t} LINK_LIBRARIES)
    get_target_property(interface ${t} INTERFACE_LINK_LIBRARIES)
    foreach(v sources links interface)
      if(NOT ${v})
        set(${v} "")
      endif()
    endforeach()
    string(APPEND text "${t}|${type}|${dir}|${sources}|${links}|${interface}\n")
  endforeach()
  file(WRITE ${file} "${text}")
endfunction()
