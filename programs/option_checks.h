// What no single option can check: how the options of a command line go
// together, once the telescope is put together from them.
#pragma once

#include "programs/option_table.h"

#include <string>

// A check across the options: "" or what is wrong, with `option` set to
// the long name of the option the problem concerns ("distances" for the
// operands). A check may settle what the options left open (the laws, the
// flux of an intensity, which layers "all" means).
using cross_check = std::string (*)(reading &r, const options_given &given,
                                    unsigned commands, const char *&option);

// --paddles against --top and --bottom, before the telescope is put
// together from them.
std::string check_paddle_options(reading &r, const options_given &given,
                                 unsigned commands, const char *&option);

// Once the telescope is put together, before its counters are: the layers
// from the top down, the least path, the distances, the lists per layer.
std::string check_layer_order(reading &r, const options_given &given,
                              unsigned commands, const char *&option);
std::string check_min_path(reading &r, const options_given &given,
                           unsigned commands, const char *&option);
std::string check_distances(reading &r, const options_given &given,
                            unsigned commands, const char *&option);
std::string check_absorbers(reading &r, const options_given &given,
                            unsigned commands, const char *&option);
std::string check_per_layer_lists(reading &r, const options_given &given,
                                  unsigned commands, const char *&option);

// Once the counters are: the requirements, the laws, the integral, the
// sky's flux, and the size of the run.
std::string check_requirements(reading &r, const options_given &given,
                               unsigned commands, const char *&option);
std::string check_sky_law(reading &r, const options_given &given,
                          unsigned commands, const char *&option);
std::string choose_laws(reading &r, const options_given &given,
                        unsigned commands, const char *&option);
std::string check_integral(reading &r, const options_given &given,
                           unsigned commands, const char *&option);
std::string check_sky_flux(reading &r, const options_given &given,
                           unsigned commands, const char *&option);
std::string check_run_size(reading &r, const options_given &given,
                           unsigned commands, const char *&option);
