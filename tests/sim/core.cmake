# The simulator core through the real VISA layer: SCPI engine, models, physics, faults, log.
korvel_add_test(korvel_sim_core_tests sim
  ${CMAKE_CURRENT_LIST_DIR}/core/BenchOptionsTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/core/FaultTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/core/ModelTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/core/PhysicsTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/core/ScpiEngineTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/core/TrafficLogTest.cpp
)
target_link_libraries(korvel_sim_core_tests PRIVATE korvel_sim korvel_instrument)
