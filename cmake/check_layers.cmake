# Fails when a source file includes a file of a higher floor, or of another folder on its own
# floor. Run as: cmake -DSRC=<src folder> -P check_layers.cmake
#
#   0 model      device model, settings and communication state, texts
#   1 protocol   frame codec and drivers        1 log      log stores, queries, CSV
#   2 comm       poll scheduler                 2 serial   the serial component (Qt)
#   3 app        settings file, device list file, start-up sequence (plain C++)
#   4 host       the Qt side of app/ (*_qt): poll timer, port, signals
#   5 ui         every window: ui/, control/, and *_window / *_dialog files anywhere
#   6 entry      main.cpp
if(NOT SRC)
  message(FATAL_ERROR "usage: cmake -DSRC=<src folder> -P check_layers.cmake")
endif()

set(RANK_model 0)
set(RANK_protocol 1)
set(RANK_log 1)
set(RANK_comm 2)
set(RANK_serial 2)
set(RANK_app 3)
set(RANK_host 4)
set(RANK_ui 5)
set(RANK_entry 6)

# The floor of a path relative to src/ ("model/ups_info.h", "ui/main_window.cpp").
function(floor_of rel out)
  string(REGEX MATCH "^[^/]+" folder "${rel}")
  get_filename_component(name "${rel}" NAME)
  if(name MATCHES "^main\\.cpp$")
    set(f entry)
  elseif(folder STREQUAL "ui" OR folder STREQUAL "control" OR name MATCHES "_(window|dialog)\\.(h|cpp)$")
    set(f ui)
  elseif(folder STREQUAL "app" AND name MATCHES "_qt\\.(h|cpp)$")
    set(f host)
  else()
    set(f "${folder}")
  endif()
  set(${out} "${f}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE files RELATIVE "${SRC}" "${SRC}/*.h" "${SRC}/*.cpp")
set(faults "")
foreach(rel IN LISTS files)
  floor_of("${rel}" from)
  if(NOT DEFINED RANK_${from})
    string(APPEND faults "\n  ${rel}: folder has no floor; add it to check_layers.cmake")
    continue()
  endif()
  file(STRINGS "${SRC}/${rel}" lines REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" inc "${line}")
    if(NOT EXISTS "${SRC}/${inc}")
      continue()  # generated headers (ui_*.h) and files outside src/
    endif()
    floor_of("${inc}" to)
    if(from STREQUAL to)
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
