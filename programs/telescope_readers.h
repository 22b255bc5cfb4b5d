// The telescope's options: its boxes, the layers between the paddles and
// where they lie, the per-layer lists of its counters, and the requirements
// of its coincidences; and the telescope written back as text.
#pragma once

#include "programs/option_reading.h"

#include <string>

// Sizes, depths and offsets of a telescope, in cm: from 10 nm to 10 km
// covers every detector, and keeps the sampler's areas (products of two
// sizes) and their squares far from overflow and underflow.
constexpr double size_min_cm = 1e-6;
constexpr double place_max_cm = 1e6;

std::string read_top(const char *text, reading &r);
std::string read_bottom(const char *text, reading &r);
std::string read_paddles(const char *text, reading &r);
std::string read_offset(const char *text, reading &r);
std::string read_layer(const char *text, reading &r);
std::string read_absorber(const char *text, reading &r);

std::string read_min_path(const char *text, reading &r);
std::string read_detection(const char *text, reading &r);
std::string read_noise(const char *text, reading &r);
std::string read_require(const char *text, reading &r);

// "layer 3" for the layer of index 2.
std::string layer_name(int i);
