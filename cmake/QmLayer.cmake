# qm_add_layer(<target> <dir> [QT]) makes one static library of the .cpp files
# in <dir> but those named after EXCLUDE (an interface library while the folder
# has none yet). Every layer sees the tree's root as its include root. QT links
# Qt Widgets.
function(qm_add_layer target dir)
  cmake_parse_arguments(ARG "QT" "" "DEPENDS;EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  foreach(x ${ARG_EXCLUDE})
    list(REMOVE_ITEM srcs ${dir}/${x})
  endforeach()
  if(srcs)
    add_library(${target} STATIC ${srcs})
    set(scope PUBLIC)
  else()
    add_library(${target} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(${target} ${scope} ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} ${scope} ${ARG_DEPENDS})
  if(ARG_QT)
    target_link_libraries(${target} ${scope} Qt6::Widgets)
  endif()
  set(QM_LAYER_SCOPE ${scope} PARENT_SCOPE)
endfunction()
