# Cost of one register write on each port back-end this machine can run.
add_executable(nubtactile-portio-cost portio_cost.cpp)
target_link_libraries(nubtactile-portio-cost PRIVATE portio_sim portio_ppdev direct_io)
