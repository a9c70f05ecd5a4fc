# The layers below the application stand on their own: nothing in ui/ includes a header of app/,
# host/ or plugin/ (not even behind __has_include), nothing in profiles/ or imagefiles/ one of
# app/ or host/, gpu/ (HPXProcessGPU) none of the plug-in's layers, and the engine, which both
# deliverables link, includes only its own. Run with -DHPX_SOURCE_DIR=<repository>; fails naming every file that reaches up.
set(HPX_REACHING_UP "")
foreach(rule "ui|app|host|plugin" "profiles|app|host" "imagefiles|app|host"
             "gpu|app|host|ui|profiles|imagefiles|plugin"
             "engine|app|host|ui|profiles|imagefiles|gpu|plugin")
  string(REPLACE "|" ";" parts "${rule}")
  list(POP_FRONT parts layer)
  string(REPLACE ";" "|" above "${parts}")
  file(GLOB_RECURSE sources ${HPX_SOURCE_DIR}/${layer}/*.h ${HPX_SOURCE_DIR}/${layer}/*.cpp)
  foreach(source ${sources})
    file(STRINGS ${source} lines REGEX "(include|__has_include)[ \t]*[(]?[<\"](${above})/")
    if(lines)
      list(APPEND HPX_REACHING_UP "${source}: ${lines}")
    endif()
  endforeach()
endforeach()
if(HPX_REACHING_UP)
  list(JOIN HPX_REACHING_UP "\n" text)
  message(FATAL_ERROR "headers of a higher layer included:\n${text}")
endif()
