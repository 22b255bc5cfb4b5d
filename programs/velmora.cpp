// velmora: geometric efficiency of the paddle telescope for muons whose
// zenith angles follow the cos^2 law.
#include "programs/dialogue.h"

int main(int argc, char **argv) {
  read_dialogue_arguments(argc, argv, zenith_law::cos_squared);
  run_dialogue(zenith_law::cos_squared);
  return 0;
}
