# Fails when a source file includes a file of a higher floor, or of another folder on its own
# floor. A file's floor is its folder under src/. Run as: cmake -DSRC=<src folder> -P check_layers.cmake
#
#   0 serial     the serial component (Qt Core)  0 model      device model, settings, texts
#   1 protocol   frame codec and drivers         1 log        log stores, queries, CSV
#   2 comm       poll scheduler, event detection
#   3 app        start-up sequence, settings file, device list file, program folder
#   4 nut        the network UPS protocol and its users file
#   5 service    the plain service: event loop, termios port, network UPS sockets, daemon
#   6 host       the Qt host under the windows
#   7 ui         every window, in subfolders that see each other only through ui/common and
#                ui/widgets
#   8 main.cpp   the entry points
cmake_minimum_required(VERSION 3.25)
if(NOT SRC)
  message(FATAL_ERROR "usage: cmake -DSRC=<src folder> -P check_layers.cmake")
endif()
get_filename_component(SRC "${SRC}" ABSOLUTE)

set(RANK_serial 0)
set(RANK_model 0)
set(RANK_protocol 1)
set(RANK_log 1)
set(RANK_comm 2)
set(RANK_app 3)
set(RANK_nut 4)
set(RANK_service 5)
set(RANK_host 6)
set(RANK_ui 7)
set(RANK_main.cpp 8)
set(RANK_tesseld.cpp 8)

# The subfolders of ui/ every other subfolder may include; they include no other subfolder.
set(UI_SHARED common widgets)

file(GLOB_RECURSE files RELATIVE "${SRC}" "${SRC}/*.h" "${SRC}/*.cpp")
set(faults "")
foreach(rel IN LISTS files)
  string(REGEX MATCH "^[^/]+" from "${rel}")
  if(NOT DEFINED RANK_${from})
    string(APPEND faults "\n  ${rel}: folder has no floor; add it to check_layers.cmake")
    continue()
  endif()
  string(REGEX MATCH "^ui/[^/]+/" fromSub "${rel}")
  file(STRINGS "${SRC}/${rel}" lines REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" inc "${line}")
    if(NOT EXISTS "${SRC}/${inc}")
      continue()  # files outside src/
    endif()
    string(REGEX MATCH "^[^/]+" to "${inc}")
    if(from STREQUAL to)
      if(from STREQUAL "ui")
        string(REGEX MATCH "^ui/[^/]+/" toSub "${inc}")
        string(REGEX REPLACE "^ui/([^/]+)/" "\\1" toName "${toSub}")
        if(NOT fromSub STREQUAL toSub AND NOT toName IN_LIST UI_SHARED)
          string(APPEND faults "\n  ${rel} includes ${inc}: ui subfolders meet only in ui/common and ui/widgets")
        elseif(NOT fromSub STREQUAL toSub AND fromSub MATCHES "^ui/(common|widgets)/$" AND toName STREQUAL "widgets")
          string(APPEND faults "\n  ${rel} includes ${inc}: ui/common sits below ui/widgets")
        endif()
      endif()
      continue()
    endif()
    if(RANK_${to} GREATER_EQUAL RANK_${from})
      string(APPEND faults "\n  ${rel} (${from}) includes ${inc} (${to})")
    endif()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "Includes that run upward or sideways:${faults}")
endif()
message(STATUS "Layers: every include runs downward (${SRC})")
