// A run of velmora-fit: the measurements read, the model of each setting
// worked out (a setting at a time, so that the command can share them among
// threads and the page can show progress), the fit, and its report or CSV.
#pragma once

#include "fit/fit.h"
#include "programs/curve_arguments.h"

#include <atomic>
#include <fstream>
#include <istream>
#include <string>

struct fit_run {
  fit_command command;
  std::string name; // of the file, as messages quote it
  fit_problem problem;
  model_method method;
  double drawn_at; // the exponent the Monte Carlo draws at
  int redraws;
  fit_result result;
  naive_fit naive;
  std::string refusal; // why the counts cannot be fitted, or ""
  // Once this flag, when given, is set, models being worked out stop
  // drawing: the run is abandoned.
  const std::atomic<bool> *stop = nullptr;
};

// Opens the measurements' file `file` into `in`: "" or why it cannot be
// read.
std::string open_measurements(const std::string &file, std::ifstream &in);

// Reads the measurements from `in`, named `name`, for the command line
// `command`: "" when the fit can go ahead, or what is wrong, naming the file,
// line and field.
std::string start_fit(const fit_command &command, std::istream &in,
                      const std::string &name, fit_run &run);

// The models to work out: one per setting, rows that repeat a setting
// sharing one.
std::size_t models_to_work_out(const fit_run &run);

// Works out model g; each may be worked out apart.
void model_setting_of(fit_run &run, std::size_t g);

enum class fit_step { done, draw_again, refused };

// Fits, once every setting's model is worked out. draw_again when the
// Monte Carlo drew its muons too far from the exponent found: its models
// are to be worked out again, at that exponent, before fitting again;
// refused, with the reason in run.refusal, when a setting counted what the
// model says the telescope cannot see.
fit_step fit_models(fit_run &run);

// The report for a reader, or the CSV for a program.
std::string fit_report(const fit_run &run);
std::string fit_csv(const fit_run &run);
extern const char fit_header[];
