// velmorauni: geometric efficiency of the paddle telescope for isotropic
// muon directions.
#include "programs/dialogue.h"

int main() {
  run_dialogue(zenith_law::isotropic);
  return 0;
}
