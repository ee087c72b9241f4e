# The logic never includes a toolkit header, and never reaches up into the
# window: includes run one way, ui -> sequencer -> readout -> port and window_ops.h;
# ui -> realtime, which knows nothing of the rest.
# Run as: cmake -DSOURCE_DIR=<repo> -P layering.cmake
set(rules
  "sequencer|#include <Q|#include \"(form1|dialog|qt_)"
  "readout|#include <Q|#include \"(step_|form1|dialog)"
  "port|#include <Q|#include \"(step_|pattern_|form1|dialog)"
  "realtime|#include <Q|#include \"(step_|pattern_|form1|dialog|realtime_kit)")
set(failures "")
foreach(rule IN LISTS rules)
  string(REPLACE "|" ";" parts "${rule}")
  list(GET parts 0 folder)
  list(GET parts 1 qt)
  list(SUBLIST parts 2 -1 upward)
  list(JOIN upward "|" upward)
  file(GLOB_RECURSE files "${SOURCE_DIR}/src/${folder}/*.h" "${SOURCE_DIR}/src/${folder}/*.cpp")
  list(APPEND files "${SOURCE_DIR}/src/window_ops/window_ops.h")
  foreach(file IN LISTS files)
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(line MATCHES "${qt}" OR line MATCHES "${upward}")
        string(APPEND failures "\n  ${file}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "Includes that break the layering:${failures}")
endif()
