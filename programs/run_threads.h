// The commands' work shared among threads: a curve's blocks of muons and a
// fit's settings, each handed out in turn to whichever thread is free. The
// thread that starts a run waits for it, and looks up every so often to show
// how far it is or to stop it: velmora-curve and velmora-fit show progress
// there, the Python module answers Ctrl-C there.
#pragma once

#include "programs/curve_run.h"
#include "programs/fit_run.h"

#include <chrono>
#include <functional>
#include <string>

// The cores this process may run on, as taskset or a container limits
// them: the threads a command starts unless told.
unsigned usable_cores();

// Called on the thread that started a run, once every interval while it
// waits, with the share of the work done, 0 to 1; false stops the run.
// Threads stop between two blocks or two settings, so a run stops within a
// block's or a setting's time of being told.
using run_watch = std::function<bool(double share_done)>;

// The threads a curve runs on when asked for `threads` (0: every usable
// core): no more than its blocks, or than its muons fill, since a thread
// costs more to start than a few muons take.
unsigned curve_threads(const curve_plan &plan, unsigned threads);

// Runs `plan` on curve_threads(plan, threads) threads, giving the rows of
// each group, in order, to `rows` on the calling thread as soon as the
// blocks of that group are in. The counts do not depend on the threads.
// False when `watch` stopped the run, some rows then never given.
bool run_curve(const curve_plan &plan, unsigned threads,
               const std::function<void(const std::string &)> &rows,
               std::chrono::milliseconds interval, const run_watch &watch);

// Works out the model of every setting of `run` on `threads` threads (0:
// every usable core); each model is its own, so the order changes nothing.
// False when `watch` stopped it, some models then left unworked.
bool model_settings(fit_run &run, unsigned threads,
                    std::chrono::milliseconds interval, const run_watch &watch);
