#include "video/display_state.h"

DisplayState& Display() {
  static DisplayState state = {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 8, 8, 8};
  return state;
}
