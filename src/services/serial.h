// Serial ports: the firmware's port1..port4 on host serial devices.
#pragma once

namespace korvane {

struct SerialState {
  int handles[5] = {-1, -1, -1, -1, -1};  // host descriptors per COM number 1-4, -1 closed
};

}  // namespace korvane
