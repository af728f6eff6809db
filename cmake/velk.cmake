# Shared build settings for every target of the project.

set(VELK_WINDOWS_DEFINES _WIN32_WINNT=0x0400 WINVER=0x0400 _WIN32_WINDOWS=0x0410
    WIN32_LEAN_AND_MEAN NOMINMAX)

# Warnings are errors where VELK_WERROR=1 is set (.ci/run sets it) or a CI service says
# it runs. Read at every configure, so one build tree follows the caller's environment.
set(velk_werror OFF)
if("$ENV{VELK_WERROR}" STREQUAL "1" OR
   (DEFINED ENV{CI} AND NOT "$ENV{CI}" STREQUAL "" AND NOT "$ENV{CI}" STREQUAL "false"))
  set(velk_werror ON)
endif()

# Warnings, and Windows 9x/NT4 header limits for Windows builds.
function(velk_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(velk_werror)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(WIN32)
    target_compile_definitions(${target} PRIVATE ${VELK_WINDOWS_DEFINES})
  endif()
endfunction()

# A version resource for a shipped binary.
function(velk_version_resource target file_name description)
  set(VELK_FILE_NAME "${file_name}")
  set(VELK_FILE_DESCRIPTION "${description}")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(VELK_FILE_TYPE "VFT_APP")
  else()
    set(VELK_FILE_TYPE "VFT_DLL")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# The shipped build gives the same bytes from the same commit, in any folder at any time:
# no link time in the PE header, no build folder in the debug information or in __FILE__.
# The debug information is made (-g changes no code) and split off by velk_split_debug.
if(VELK_FLAVOUR STREQUAL "ship" AND WIN32)
  # Each folder as given and as it really is (the compiler sees a folder reached through a
  # link by its real path). GCC takes the last map that matches, so the longer paths go
  # last: a build folder inside the sources, or one whose name begins another's, maps right.
  file(REAL_PATH ${CMAKE_SOURCE_DIR} velk_real_source)
  file(REAL_PATH ${CMAKE_BINARY_DIR} velk_real_binary)
  set(velk_maps "")
  foreach(pair IN ITEMS "${CMAKE_SOURCE_DIR}=/velk" "${velk_real_source}=/velk"
                        "${CMAKE_BINARY_DIR}=/velk-build" "${velk_real_binary}=/velk-build")
    string(FIND "${pair}" "=" at REVERSE)
    math(EXPR length "100000 + ${at}")  # fixed width, so that text order is length order
    list(APPEND velk_maps "${length}|${pair}")
  endforeach()
  list(REMOVE_DUPLICATES velk_maps)
  list(SORT velk_maps)
  add_compile_options(-g)
  foreach(entry IN LISTS velk_maps)
    string(REGEX REPLACE "^[0-9]+\\|" "" pair "${entry}")
    add_compile_options(-ffile-prefix-map=${pair})
  endforeach()
  add_link_options(-Wl,--no-insert-timestamp)
endif()

# Moves a binary's debug sections into <binary>.debug beside it and links the two by name
# and CRC (.gnu_debuglink), so that debuggers and addr2line find the symbols wherever both
# files are put side by side. The binary left behind is the one that ships.
# objcopy stamps the PE header with the time it runs unless SOURCE_DATE_EPOCH says
# otherwise: 0 keeps the linker's (none).
function(velk_split_debug target)
  set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${objcopy} --only-keep-debug $<TARGET_FILE_NAME:${target}> $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${objcopy} --strip-all --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug
            $<TARGET_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    VERBATIM)
endfunction()

# Marks a target as one of the binaries that go into the ZIP for the factory, in the
# folder it has on the machine: Velk/NUV for the engine and its plug-ins, Velk for the
# utilities, which must outlive the engine's clean-up of its own folder.
function(velk_ship target destination)
  if(VELK_FLAVOUR STREQUAL "ship")
    install(TARGETS ${target} RUNTIME DESTINATION ${destination} LIBRARY DESTINATION ${destination})
    velk_split_debug(${target})
    install(FILES $<TARGET_FILE:${target}>.debug DESTINATION ${destination} COMPONENT symbols)
    set_property(GLOBAL APPEND PROPERTY VELK_SHIPPED_TARGETS ${target})
  endif()
endfunction()

# A GoogleTest program: natively in the host build, under Wine in the wintest build.
# SERIAL: its tests share machine-wide state (files under C:\VELK, the registry) and
# never run beside another test.
function(velk_gtest target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "SERIAL" "" "")
  add_executable(${target} ${arg_UNPARSED_ARGUMENTS})
  velk_target_defaults(${target})
  target_link_libraries(${target} PRIVATE GTest::gtest_main)
  set(serial FALSE)
  if(arg_SERIAL)
    set(serial TRUE)
  endif()
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    EXTRA_ARGS --gtest_color=no
    PROPERTIES TIMEOUT 300 RUN_SERIAL ${serial})
endfunction()

# The command of an outside tool that builds packages (makensis, wixl), in var. Without
# the tool, the command fails and says what to install: only the package targets need it.
function(velk_find_tool var program)
  find_program(${var}_PATH ${program})
  if(${var}_PATH)
    set(${var} ${${var}_PATH} PARENT_SCOPE)
  else()
    set(${var} ${CMAKE_COMMAND} -DVELK_TOOL=${program} -P ${CMAKE_SOURCE_DIR}/cmake/missing_tool.cmake PARENT_SCOPE)
  endif()
endfunction()

# A Windows Installer package built with wixl from a WiX source in folder, with
# -D NAME=VALUE defines; the source's files are taken from folder.
function(velk_add_msi output folder source)
  velk_find_tool(WIXL wixl)
  # A package of the build's own architecture: a 64-bit one installs into the 64-bit
  # Program Files and registry view, as the 64-bit programs see them.
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(defines -a x64 -D ProgramFiles=ProgramFiles64Folder)
  else()
    set(defines -D ProgramFiles=ProgramFilesFolder)
  endif()
  foreach(define IN LISTS ARGN)
    list(APPEND defines -D "${define}")
  endforeach()
  get_filename_component(output_dir ${output} DIRECTORY)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${output_dir}
    COMMAND ${WIXL} ${defines} -o ${output} ${folder}/${source}
    DEPENDS ${folder}/${source} ${folder}/readme.txt
    WORKING_DIRECTORY ${folder}
    COMMENT "Building ${output} with wixl"
    VERBATIM)
endfunction()

# A shipped windowed program: its entry point around the static library that holds it.
# It goes to Velk on the machine, or to the folder given after DESTINATION.
function(velk_shipped_program target file_name description lib)
  cmake_parse_arguments(PARSE_ARGV 4 arg "" "DESTINATION" "")
  if(NOT arg_DESTINATION)
    set(arg_DESTINATION Velk)
  endif()
  add_executable(${target} WIN32 ${arg_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE ${lib})
  velk_target_defaults(${target})
  velk_version_resource(${target} "${file_name}" "${description}")
  velk_ship(${target} ${arg_DESTINATION})
endfunction()
