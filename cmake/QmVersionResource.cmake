# qm_add_version_resource(<target> <description>) gives a Windows program a
# version resource with the project's four numbers; elsewhere it does nothing.
function(qm_add_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  enable_language(RC)
  set(QM_RC_NAME ${target})
  set(QM_RC_DESCRIPTION ${description})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
endfunction()
