# Transport codecs (pure functions over bytes, no sockets) and the korvel-scpi console on
# in-process instruments.
korvel_add_test(korvel_transport_unit_tests unit
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/RpcCodecTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/HiSlipCodecTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/ProtocolNumbersTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/transport/ScpiConsoleTest.cpp
)
target_link_libraries(korvel_transport_unit_tests PRIVATE korvel_visa korvel_scpi_console)
