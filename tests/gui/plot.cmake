# korvel-plot: charts of known files, the loader's refusals, redraws while files are written,
# PNG output and the command line.
korvel_add_test(korvel_plot_tests gui
  ${CMAKE_CURRENT_LIST_DIR}/plot/ContinuousPlotTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/plot/LeakSuppressions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/plot/PlotViewTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/plot/SweepPlotTest.cpp
)
target_link_libraries(korvel_plot_tests PRIVATE korvel_plot Qt6::Test)
