// The Python module's C++ side, velmora._velmora: command lines of
// velmora-curve and velmora-fit read by the commands' own readers and run
// by the commands' own runners, the programs' trial, and the CSV the runs
// write turned into numpy's structured arrays. The package's __init__.py
// writes the command lines from keyword arguments.
#include "programs/curve_arguments.h"
#include "programs/curve_run.h"
#include "programs/fit_run.h"
#include "programs/option_table.h"
#include "programs/run_threads.h"
#include "simulation/coincidences.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <locale.h> // uselocale, newlocale: POSIX, not in <clocale>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace py = pybind11;

namespace {

// How often a run with the interpreter let go looks for Ctrl-C: well
// within the second a user waits before pressing it again.
constexpr auto watch_interval = std::chrono::milliseconds(100);

// The CSV columns that hold words, not numbers: the law, the requirement,
// the telescope, the per-layer lists and the method. A column that is
// not named here and holds something other than a number becomes text
// too, so that a new column never fails the reading.
bool text_column(const std::string &name) {
  static const char *const words[] = {"law",       "require",  "telescope",
                                      "detection", "noise_hz", "method"};
  for (const char *w : words) {
    if (name == w) {
      return true;
    }
  }
  return false;
}

// Numbers read and written as the commands read and write them, in the C
// locale, whatever locale the Python program has set: for this thread,
// while the call lasts. The runners' other threads only count.
class c_numbers {
public:
  c_numbers() : previous_(uselocale(c_locale())) {}
  ~c_numbers() {
    uselocale(previous_);
  }
  c_numbers(const c_numbers &) = delete;
  c_numbers &operator=(const c_numbers &) = delete;

private:
  static locale_t c_locale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    return c;
  }
  locale_t previous_;
};

// A command line as getopt_long takes it: the words, and pointers to them.
struct command_line {
  std::vector<std::string> words;
  std::vector<char *> argv;
};

command_line command_of(const std::vector<std::string> &words) {
  command_line c{words, {}};
  for (std::string &w : c.words) {
    if (w.find('\0') != std::string::npos) {
      throw py::value_error("a NUL character cannot stand in a command line");
    }
    c.argv.push_back(w.data());
  }
  c.argv.push_back(nullptr);
  return c;
}

// What a run let go of the interpreter for: the watch takes it back to see
// whether Ctrl-C (or any signal handler that raises) asks to stop, and
// leaves the exception set for the caller to raise.
struct interruptible {
  bool interrupted = false;
  run_watch watch() {
    return [this](double /*share*/) {
      const py::gil_scoped_acquire gil;
      interrupted = PyErr_CheckSignals() != 0;
      return !interrupted;
    };
  }
  void raise_if_interrupted() const {
    if (interrupted) {
      throw py::error_already_set();
    }
  }
};

// The fields of one line of CSV, without its end.
std::vector<std::pair<const char *, const char *>> fields_of(const char *begin,
                                                             const char *end) {
  std::vector<std::pair<const char *, const char *>> fields;
  for (const char *from = begin;; ++from) {
    const char *to = std::find(from, end, ',');
    fields.emplace_back(from, to);
    if (to == end) {
      return fields;
    }
    from = to;
  }
}

// A field as a number: "" is NaN; false for anything else that is no
// number, whole.
bool number_of(const char *begin, const char *end, double &value) {
  if (begin == end) {
    value = NAN;
    return true;
  }
  const std::from_chars_result r = std::from_chars(begin, end, value);
  return r.ec == std::errc() && r.ptr == end;
}

// The structured array's type for these columns, made once for each
// header and choice of text columns: numpy's dtype of a list of (name,
// format). Kept for the life of the process.
py::dtype dtype_of(const std::vector<std::string> &names,
                   const std::vector<bool> &text) {
  static auto *const made = new std::map<std::string, py::dtype>();
  std::string key;
  for (std::size_t c = 0; c < names.size(); ++c) {
    key += names[c] + (text[c] ? ",O;" : ",f8;");
  }
  const auto found = made->find(key);
  if (found != made->end()) {
    return found->second;
  }
  py::list fields;
  for (std::size_t c = 0; c < names.size(); ++c) {
    fields.append(py::make_tuple(names[c], text[c] ? "O" : "f8"));
  }
  return made->emplace(key, py::dtype::from_args(fields)).first->second;
}

// CSV whose first line names its columns, as a structured array with a
// field of each name, in order: numbers as float64 (NaN for an empty
// field), text as str.
py::array table_of(const std::string &csv) {
  const char *const end = csv.data() + csv.size();
  const char *line_end = std::find(csv.data(), end, '\n');
  std::vector<std::string> names;
  for (const auto &f : fields_of(csv.data(), line_end)) {
    names.emplace_back(f.first, f.second);
  }
  std::vector<std::vector<std::pair<const char *, const char *>>> rows;
  for (const char *from = line_end; from < end; from = line_end) {
    ++from; // past the line's end
    line_end = std::find(from, end, '\n');
    if (from < line_end) {
      rows.push_back(fields_of(from, line_end));
      if (rows.back().size() != names.size()) {
        throw std::runtime_error(
            "a row of " + std::to_string(rows.back().size()) +
            " fields under a header of " + std::to_string(names.size()));
      }
    }
  }
  std::vector<bool> text(names.size());
  for (std::size_t c = 0; c < names.size(); ++c) {
    text[c] = text_column(names[c]);
    double value = 0.0;
    for (std::size_t r = 0; r < rows.size() && !text[c]; ++r) {
      text[c] = !number_of(rows[r][c].first, rows[r][c].second, value);
    }
  }
  const py::dtype type = dtype_of(names, text);
  py::array table(
      type, std::vector<py::ssize_t>{static_cast<py::ssize_t>(rows.size())});
  auto *const data = static_cast<char *>(table.mutable_data());
  const auto item = static_cast<std::size_t>(type.itemsize());
  for (std::size_t c = 0; c < names.size(); ++c) {
    // Each field is 8 bytes, a double or a reference, packed in order.
    const std::size_t offset = 8 * c;
    // A column repeats its words from row to row: one str for a run of
    // them.
    std::string last;
    PyObject *last_word = nullptr;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      char *const field = data + r * item + offset;
      const char *const from = rows[r][c].first;
      const char *const to = rows[r][c].second;
      if (!text[c]) {
        double value = 0.0;
        number_of(from, to, value);
        std::memcpy(field, &value, sizeof value);
        continue;
      }
      if (last_word == nullptr ||
          last.compare(0, last.npos, from,
                       static_cast<std::size_t>(to - from)) != 0) {
        last.assign(from, to);
        last_word = PyUnicode_FromStringAndSize(
            from, static_cast<py::ssize_t>(to - from));
        if (last_word == nullptr) {
          throw py::error_already_set();
        }
      } else {
        Py_INCREF(last_word);
      }
      // numpy filled the field with a reference to None: given back.
      PyObject *filled = nullptr;
      std::memcpy(&filled, field, sizeof(PyObject *));
      Py_XDECREF(filled);
      std::memcpy(field, &last_word, sizeof(PyObject *));
    }
  }
  return table;
}

// velmora-curve's command line `words`, its name first: its rows.
py::array run_curve_command(const std::vector<std::string> &words) {
  const c_numbers numbers;
  command_line line = command_of(words);
  const curve_command command =
      read_curve_command(static_cast<int>(line.words.size()), line.argv.data());
  if (!command.problem.empty()) {
    throw py::value_error(command.problem);
  }
  if (command.request != curve_request::run) {
    throw py::value_error("help and version are not runs");
  }
  std::string csv = curve_header;
  interruptible run;
  {
    const py::gil_scoped_release free;
    const curve_plan plan = plan_curve(command.arguments);
    run_curve(
        plan, command.arguments.threads,
        [&](const std::string &rows) { csv += rows; }, watch_interval,
        run.watch());
  }
  run.raise_if_interrupted();
  return table_of(csv);
}

// velmora-fit's command line `words`, its name first, of the measurements
// in `measurements` (named `name` in messages) or, where that is None, in
// the command line's file: what the command prints (its report, or its CSV
// with --csv) and the CSV.
py::tuple run_fit_command(const std::vector<std::string> &words,
                          const py::object &measurements,
                          const std::string &name) {
  const c_numbers numbers;
  command_line line = command_of(words);
  const fit_command command =
      read_fit_command(static_cast<int>(line.words.size()), line.argv.data());
  if (!command.problem.empty()) {
    throw py::value_error(command.problem);
  }
  if (command.request != curve_request::run) {
    throw py::value_error("help and version are not runs");
  }
  std::ifstream file;
  std::istringstream given;
  std::istream *in = &given;
  std::string named = name;
  if (measurements.is_none()) {
    const std::string problem = open_measurements(command.file, file);
    if (!problem.empty()) {
      throw py::value_error(problem);
    }
    in = &file;
    named = command.file;
  } else {
    given.str(measurements.cast<std::string>());
  }
  fit_run fitting;
  interruptible run;
  std::string problem;
  fit_step step = fit_step::draw_again;
  {
    const py::gil_scoped_release free;
    problem = start_fit(command, *in, named, fitting);
    while (problem.empty() && step == fit_step::draw_again) {
      if (!model_settings(fitting, command.arguments.threads, watch_interval,
                          run.watch())) {
        break;
      }
      step = fit_models(fitting);
    }
  }
  run.raise_if_interrupted();
  if (!problem.empty()) {
    throw py::value_error(problem);
  }
  if (step == fit_step::refused) {
    throw py::value_error(fitting.refusal);
  }
  const std::string csv = fit_csv(fitting);
  return py::make_tuple(command.csv ? csv : fit_report(fitting), csv);
}

// The programs' trial: velmora's (cos_squared) or velmorauni's
// (isotropic) counts for a distance and a count of muons, as a fresh
// process of either gives them.
py::tuple run_programs_trial(double distance_cm, const py::int_ &muons_given,
                             const std::string &law_name) {
  zenith_law law = zenith_law::cos_squared;
  if (law_name == "isotropic") {
    law = zenith_law::isotropic;
  } else if (law_name != "cos_squared") {
    throw py::value_error("law '" + law_name +
                          "' is not cos_squared or isotropic");
  }
  int overflow = 0;
  const long long muons =
      PyLong_AsLongLongAndOverflow(muons_given.ptr(), &overflow);
  if (overflow != 0 || muons < INT32_MIN || muons > INT32_MAX) {
    throw py::value_error("the number of muons to simulate is out of range: "
                          "the largest allowed count is 2147483647");
  }
  // The generator is the process's own, as the programs' is: one trial at
  // a time, each from where a fresh process starts.
  static std::mutex one_at_a_time;
  interruptible run;
  std::int32_t coincidences = 0;
  {
    const py::gil_scoped_release free;
    const std::lock_guard<std::mutex> lock(one_at_a_time);
    seed_uniform(1);
    const run_watch watch = run.watch();
    // Cut into pieces of about 50 ms; each goes on where the last left
    // the generator, so the sum is the count of one run.
    constexpr std::int32_t piece = 1 << 20;
    for (long long done = 0; done < muons; done += piece) {
      coincidences += simulate_coincidences(
          distance_cm,
          static_cast<std::int32_t>(std::min<long long>(piece, muons - done)),
          law);
      if (done + piece < muons && !watch(0.0)) {
        break;
      }
    }
  }
  run.raise_if_interrupted();
  // As the programs print it, to three decimals: 0/0 is NaN and
  // 0/negative is -0.0.
  const double efficiency =
      static_cast<double>(coincidences) / static_cast<double>(muons);
  char printed[64];
  std::snprintf(printed, sizeof printed, "%3.3f", efficiency);
  double shown = 0.0;
  number_of(printed, printed + std::strlen(printed), shown);
  return py::make_tuple(coincidences, shown);
}

// The option table as the package writes command lines from it: name,
// whether it takes a value, which commands take it, and whether it is
// given once per value.
py::list option_list() {
  py::list list;
  for (const curve_option &o : options) {
    if (o.read != nullptr) {
      list.append(
          py::make_tuple(o.name, o.value != nullptr, o.commands, o.repeated));
    }
  }
  return list;
}

} // namespace

PYBIND11_MODULE(_velmora, m) {
  m.doc() = "velmora's C++ side: see the package velmora";
  m.attr("version") = VELMORA_VERSION;
  m.attr("curve_only") = curve_only;
  m.attr("fit_only") = fit_only;
  m.def("options", &option_list);
  m.def("curve", &run_curve_command, py::arg("words"));
  m.def("fit", &run_fit_command, py::arg("words"), py::arg("measurements"),
        py::arg("name"));
  m.def(
      "table", [](const std::string &csv) { return table_of(csv); },
      py::arg("csv"));
  m.def("efficiency", &run_programs_trial, py::arg("distance_cm"),
        py::arg("muons"), py::arg("law"));
}
