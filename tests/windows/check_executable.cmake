# Checks a shipped Windows executable: tessary.exe's command line and output
# under a real Windows API (Wine), and the resources of each program. (What a
# release must have besides is checked by check_release.sh.)
# Usage: cmake -DEMULATOR=<list> -DEXE=<program.exe> -DWINDRES=<windres>
#              -DVERSION=<version> -DWORK=<folder> [-DRESOURCES_ONLY=ON] -P check_executable.cmake
set(failures "")
macro(fail text)
  string(APPEND failures "${text}\n")
endmacro()

set(banner "Tessary Tool...\r\n")
set(usage "Please use /a or /d argument\r\n")
set(add "Command: Add WapiSupport\r\n")
set(delete "Command: Delete WapiSupport\r\n")

# The output goes through a file, read as hexadecimal: execute_process and a
# plain file(READ) would both drop the CR of each CR LF. The expected texts
# are compared in hexadecimal too.
# Anything Wine or the program wrote on standard error goes into the
# failure's message.
function(run_tool output_var status_var)
  execute_process(COMMAND ${EMULATOR} ${EXE} ${ARGN} OUTPUT_FILE ${WORK}/output.txt RESULT_VARIABLE status
                  ERROR_VARIABLE errors)
  file(READ ${WORK}/output.txt output HEX)
  set(${output_var} "${output}" PARENT_SCOPE)
  set(${status_var} "${status}" PARENT_SCOPE)
  set(errors "${errors}" PARENT_SCOPE)
endfunction()

if(NOT RESOURCES_ONLY)
# Each case: the expected line after the banner, then the arguments. Wine has
# no Corvane adapter, so a command prints nothing more after walking the list.
set(cases
  "usage"
  "add|/a" "add|/add" "add|/abc" "add|/a:x" "add|/a|/d"
  "delete|/d" "delete|/delete" "delete|/dx" "delete|/d|/a"
  "usage|/A" "usage|/D" "usage|-a" "usage|a" "usage|/" "usage|x|/a")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(POP_FRONT parts expected)
  run_tool(output status ${parts})
  string(HEX "${banner}${${expected}}" wanted)
  if(NOT output STREQUAL wanted OR NOT status EQUAL 0)
    fail("arguments '${parts}': status ${status}, output '${output}', standard error '${errors}'")
  endif()
endforeach()
# An empty first argument.
run_tool(output status "")
string(HEX "${banner}${usage}" wanted)
if(NOT output STREQUAL wanted OR NOT status EQUAL 0)
  fail("an empty argument: status ${status}, output '${output}', standard error '${errors}'")
endif()
endif()

get_filename_component(name "${EXE}" NAME)

# Exactly one manifest, id 1, asking for asInvoker without uiAccess and
# naming Windows 7 to 11; and a version resource.
execute_process(COMMAND ${WINDRES} -i ${EXE} -O rc OUTPUT_VARIABLE resources RESULT_VARIABLE status)
string(REGEX MATCHALL "\n[^\n]* 24 /\\* RT_MANIFEST \\*/" manifests "${resources}")
list(LENGTH manifests manifest_count)
if(NOT manifest_count EQUAL 1 OR NOT resources MATCHES "\n1 24 /\\* RT_MANIFEST \\*/")
  fail("expected one manifest with id 1, found ${manifest_count}")
endif()
foreach(needed
    "level=\"\"asInvoker\"\" uiAccess=\"\"false\"\""
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}" "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}" "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
    "VALUE \"ProductName\", \"Tessary\"" "VALUE \"FileDescription\"" "VALUE \"ProductVersion\", \"${VERSION}\""
    "VALUE \"OriginalFilename\", \"${name}\"")
  string(FIND "${resources}" "${needed}" at)
  if(at EQUAL -1)
    fail("the resources lack ${needed}")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
