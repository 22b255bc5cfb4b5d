// A run of velmora-curve: its passes, one per law, tilt and layer the muons
// are drawn through, cut into blocks of muons that any number of threads or
// workers can share; and its rows as CSV.
#pragma once

#include "programs/curve_arguments.h"
#include "simulation/sky.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern const char curve_header[];

// A pass: muons of one law drawn through one layer's box at one tilt. The
// passes of one law and tilt make a group, which gives that law's and
// tilt's rows.
struct curve_pass {
  zenith_law law;
  double tilt_deg;
  int source;
  std::size_t group;
};

// The rows of one law and tilt.
struct curve_group {
  zenith_law law;
  double tilt_deg;
};

struct curve_plan {
  curve_arguments arguments;
  std::vector<double> sorted;        // the distances, ascending
  std::vector<std::size_t> position; // of each row's distance in sorted
  std::vector<curve_pass> passes;    // group by group, in the rows' order
  std::size_t groups;
  std::vector<curve_group> group_list; // in the rows' order
  sky_sampler sampler;                 // of the arguments' sky, for every pass
  std::uint64_t blocks_per_pass;
  std::size_t tally_size; // of one pass; a run's tallies hold all passes'
};

curve_plan plan_curve(const curve_arguments &arguments);

// The blocks of the whole run, numbered pass by pass.
std::uint64_t block_count(const curve_plan &plan);
std::int32_t muons_in_block(const curve_plan &plan, std::uint64_t block);
std::size_t group_of_block(const curve_plan &plan, std::uint64_t block);
// The number of blocks of group `group`, and the first of them.
std::uint64_t first_block_of_group(const curve_plan &plan, std::size_t group);
std::uint64_t blocks_of_group(const curve_plan &plan, std::size_t group);

// Throws block `block`, adding to `tallies` (plan.passes.size() *
// plan.tally_size numbers, zero at the start of a run). Tallies of blocks
// thrown apart add up to those of one run: the counts do not depend on who
// throws which block.
void run_block(const curve_plan &plan, std::uint64_t block,
               std::int32_t *tallies);

// The rows of group `group`, once all its blocks are in `tallies`; turns
// that group's tallies into counts on the way. The integral works its
// rates out here, distance by distance; once `stop` (when given) is set it
// gives up, with no rows: the run is abandoned.
std::string group_rows(const curve_plan &plan, std::size_t group,
                       std::int32_t *tallies,
                       const std::atomic<bool> *stop = nullptr);

// A run on one thread, a block at a time, as the tests and the page's
// worker run it.
struct curve_run {
  curve_plan plan;
  std::vector<std::int32_t> tallies;
  std::uint64_t done;  // blocks thrown
  std::size_t written; // groups whose rows are written
};

curve_run start_curve_run(const curve_arguments &arguments);

// Throws the next block; when that ends a group, or groups that need no
// blocks, appends their rows to `csv`. False, having done nothing, once
// every row has been written.
bool run_slice(curve_run &run, std::string &csv);

// The share of the run's muons thrown, from 0 to 1.
double share_done(const curve_run &run);
