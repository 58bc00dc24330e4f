# Paho MQTT C, the synchronous client library (paho-mqtt3c, MQTTClient.h).
# Gives the imported target PahoMqttC::PahoMqttC and PahoMqttC_FOUND. The
# cross build finds the DLL's import library in the prefix that the toolchain
# file adds to the search root.
find_path(PahoMqttC_INCLUDE_DIR MQTTClient.h)
find_library(PahoMqttC_LIBRARY paho-mqtt3c)
mark_as_advanced(PahoMqttC_INCLUDE_DIR PahoMqttC_LIBRARY)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(PahoMqttC
  REQUIRED_VARS PahoMqttC_LIBRARY PahoMqttC_INCLUDE_DIR)

if(PahoMqttC_FOUND AND NOT TARGET PahoMqttC::PahoMqttC)
  add_library(PahoMqttC::PahoMqttC UNKNOWN IMPORTED)
  set_target_properties(PahoMqttC::PahoMqttC PROPERTIES
    IMPORTED_LOCATION "${PahoMqttC_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${PahoMqttC_INCLUDE_DIR}")
endif()
