# SPDX-License-Identifier: Apache-2.0
# The general-purpose libraries we build against, as imported targets:
#   nlohmann_json::nlohmann_json  the JSON stand-ins and the tests
#   mosquitto::mosquitto          the bus stand-in and its tests
#   inih::inih                    the tools stand-in
# mosquitto and inih are needed only with the stand-ins (PLATFORM_STANDINS);
# nlohmann/json also by the tests when the stand-ins are off. Debian ships a
# CMake package for nlohmann/json only; the other two are found by header
# and library.
if(PLATFORM_STANDINS OR BUILD_TESTING)
  find_package(nlohmann_json 3 REQUIRED)
endif()

# imported_library(target header library): target from a found header and library.
function(imported_library target header library)
  string(MAKE_C_IDENTIFIER "${library}" var)
  string(TOUPPER "${var}" var)
  find_path(${var}_INCLUDE_DIR ${header} REQUIRED)
  find_library(${var}_LIBRARY ${library} REQUIRED)
  add_library(${target} UNKNOWN IMPORTED)
  set_target_properties(${target} PROPERTIES
    IMPORTED_LOCATION ${${var}_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${${var}_INCLUDE_DIR})
endfunction()

if(PLATFORM_STANDINS)
  imported_library(mosquitto::mosquitto mosquitto.h mosquitto)
  imported_library(inih::inih ini.h inih)
endif()
