# Included by shell/CMakeLists.txt, which builds setup.exe.
# What setup.exe carries besides code: icon, version block, configuration text
# and manifest. A maker builds an installer for their own product by pointing
# SETUP_CONFIG_FILE at their configuration (GBK, key=value lines, CR LF) and
# setting the version block's texts.
set(SETUP_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/config.sample.txt CACHE FILEPATH
    "Configuration text embedded as resource 1600/1601")
set(SETUP_COMPANY_NAME "北岸软件有限公司" CACHE STRING "Version block: CompanyName")
set(SETUP_PRODUCT_NAME "Brenvik 账簿" CACHE STRING "Version block: ProductName")
set(SETUP_FILE_DESCRIPTION "Brenvik 账簿 安装程序" CACHE STRING "Version block: FileDescription")
set(SETUP_LEGAL_COPYRIGHT "© 2026 北岸软件有限公司" CACHE STRING "Version block: LegalCopyright")

set(SETUP_ICON_FILE ${CMAKE_BINARY_DIR}/resources/setup.ico CACHE INTERNAL "")
set(SETUP_MANIFEST_FILE ${CMAKE_CURRENT_LIST_DIR}/setup.manifest CACHE INTERNAL "")
# The 64-bit test build asks for the 64-bit common controls: given the x86
# assembly, a prefix that has 32-bit Wine too hands it a 32-bit comctl32.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  file(READ ${CMAKE_CURRENT_LIST_DIR}/setup.manifest manifest_text)
  string(REPLACE "processorArchitecture=\"x86\"" "processorArchitecture=\"amd64\"" manifest_text "${manifest_text}")
  set(SETUP_MANIFEST_FILE ${CMAKE_BINARY_DIR}/resources/setup-amd64.manifest CACHE INTERNAL "")
  file(WRITE ${SETUP_MANIFEST_FILE} "${manifest_text}")
endif()

find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_command(OUTPUT ${SETUP_ICON_FILE}
                   COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/make_icon.py ${SETUP_ICON_FILE}
                   DEPENDS ${CMAKE_CURRENT_LIST_DIR}/make_icon.py
                   COMMENT "Drawing the application icon")
add_custom_target(setup_icon DEPENDS ${SETUP_ICON_FILE})

# add_setup_resources(TARGET CONFIG_FILE): an object library with the resources
# and the given configuration text; an empty CONFIG_FILE leaves the
# configuration resource out. Tests build setup.exe variants with it.
function(add_setup_resources target config)
  set(SETUP_CONFIG_FILE "")
  if(config)
    get_filename_component(SETUP_CONFIG_FILE ${config} ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/setup.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES
    OBJECT_DEPENDS "${SETUP_ICON_FILE};${SETUP_MANIFEST_FILE};${SETUP_CONFIG_FILE}")
  add_library(${target} OBJECT ${rc})
  if(NOT config)
    target_compile_definitions(${target} PRIVATE SETUP_WITHOUT_CONFIG)
  endif()
  add_dependencies(${target} setup_icon)
endfunction()

