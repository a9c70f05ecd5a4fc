# The two files the project ships, both written into dist/:
#   Hushpix.8bf       the filter plug-in (a DLL with the host's filter extension)
#   HPXProcessGPU.exe the GPU processing program
# Each is fully static and imports only Windows system DLLs.

file(GLOB HPX_PLUGIN_RC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/plugin/*.rc)
add_library(Hushpix MODULE ${HPX_PLUGIN_RC})
set_target_properties(Hushpix PROPERTIES PREFIX "" SUFFIX ".8bf" OUTPUT_NAME Hushpix
  LIBRARY_OUTPUT_DIRECTORY ${HPX_DIST_DIR} RUNTIME_OUTPUT_DIRECTORY ${HPX_DIST_DIR})
target_link_libraries(Hushpix PRIVATE hpx_plugin)
# Nothing inside the DLL calls PluginMain or DllMain (the host and the loader do), so pull
# them out of the static library by name (i686 C names carry a leading underscore).
target_link_options(Hushpix PRIVATE -Wl,--undefined=_PluginMain -Wl,--undefined=_DllMain@12)
target_link_libraries(Hushpix PRIVATE FreeImage::FreeImage SimpleIni::SimpleIni ${HPX_WIN_SYSLIBS})
target_include_directories(Hushpix PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/resources)
# The host looks the entry point up by its plain name.
target_link_options(Hushpix PRIVATE -Wl,--kill-at)

file(GLOB HPX_GPU_RC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/gpu/*.rc)
add_executable(HPXProcessGPU WIN32 ${HPX_GPU_RC})
set_target_properties(HPXProcessGPU PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${HPX_DIST_DIR})
target_link_libraries(HPXProcessGPU PRIVATE hpx_gpu)
target_link_libraries(HPXProcessGPU PRIVATE hpx_engine GLEW::glew_s opengl32 glu32 ${HPX_WIN_SYSLIBS})
target_include_directories(HPXProcessGPU PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/resources)
# The wide entry point wWinMain lives in the static library; the C runtime's start-up code
# that calls it comes later on the link line, so name it up front.
target_link_options(HPXProcessGPU PRIVATE -municode -Wl,--undefined=_wWinMain@16)

# Files shipped beside the plug-in (the profile and localisation INI files).
file(GLOB HPX_DIST_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/dist/*)
foreach(f ${HPX_DIST_FILES})
  get_filename_component(n ${f} NAME)
  configure_file(${f} ${HPX_DIST_DIR}/${n} COPYONLY)
endforeach()
