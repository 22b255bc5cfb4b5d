// velmorauni: geometric efficiency of the paddle telescope for tracks whose
// zenith cosine is uniform (the law named isotropic).
#include "programs/dialogue.h"

int main(int argc, char **argv) {
  read_dialogue_arguments(argc, argv, zenith_law::isotropic);
  run_dialogue(zenith_law::isotropic);
  return 0;
}
