# corvane_plugin_bundle(<target> BUNDLE <Name> DIR <folder> SOURCES <files...>)
# Builds a plug-in bundle <folder>/<Name>.bundle: the shared library in
# Contents/MacOS/<Name> and an Info.plist whose CFBundleExecutable names it.
function(corvane_plugin_bundle target)
  cmake_parse_arguments(ARG "" "BUNDLE;DIR" "SOURCES" ${ARGN})
  set(contents ${ARG_DIR}/${ARG_BUNDLE}.bundle/Contents)
  add_library(${target} MODULE ${ARG_SOURCES})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/include)
  target_compile_options(${target} PRIVATE ${CORVANE_WARNINGS})
  set_target_properties(${target} PROPERTIES
    PREFIX "" SUFFIX "" OUTPUT_NAME ${ARG_BUNDLE}
    LIBRARY_OUTPUT_DIRECTORY ${contents}/MacOS
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden)
  file(WRITE ${contents}/Info.plist
"<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<plist version=\"1.0\">
<dict>
  <key>CFBundleName</key>       <string>${ARG_BUNDLE}</string>
  <key>CFBundleExecutable</key> <string>${ARG_BUNDLE}</string>
  <key>CFBundlePackageType</key> <string>BNDL</string>
</dict>
</plist>
")
endfunction()
