// Guards of a run's result files. The writer chooses the final name (it may
// append the format's extension), so each result is watched under the name
// the writer will give it in the run's format, and under the file the
// standard output is redirected to for a result written there. Only that
// name: a result "q.raw" is written as q.raw.fits, and the input q.raw
// beside it is safe. Files are told apart by device and inode, so "./x",
// links and relative paths to the input are all recognised. The input is
// whatever file the readers opened, as they opened it: after a library
// prefix or HDU selector, a compressed sibling, an added extension, or on
// the standard input. Raw "disp" results carry their pixel type and the
// image size in the name, and the -w snapshots an iteration number, so
// those names are watched too.
#include "mca/mca_run_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>

#include "array/fatal.h"
#include "io/image_file.h"
#include "io/image_input_file.h"
#include "io/io_dispatch.h"
#include "io/output_file.h"
#include "io/standard_output.h"

namespace {

bool stat_of(const std::string& path, struct stat& st) { return ::stat(path.c_str(), &st) == 0; }

// A result the user names: another name avoids the input.
const char* const ResultRemedy = "choose another output name";

}  // namespace

RunFiles::RunFiles(const std::vector<std::string>& outputs, int nl, int nc) : nl_(nl), nc_(nc) {
  for (const std::string& name : outputs) add_output(name, ResultRemedy);
}

void RunFiles::add_fixed_outputs(const std::vector<std::string>& outputs, const char* remedy) {
  for (const std::string& name : outputs) add_output(name, remedy);
}

void RunFiles::add_output(const std::string& name, const char* remedy) {
  outputs_.push_back(name);
  const std::string file = std_inout(name.c_str()) ? std::string() : written_file(name);
  if (file.empty()) {
    // Written in place, through the descriptor the shell opened: a
    // regular file there is written over, or grows.
    struct stat st;
    if (fstat(fileno(io_standard_output()), &st) == 0 && S_ISREG(st.st_mode))
      candidates_.push_back({name, st.st_dev, st.st_ino, remedy});
    return;
  }
  add_candidate(file, remedy);
}

std::string RunFiles::written_file(const std::string& name) const {
  return io_float_output_file(name.c_str(), nl_, nc_);
}

// stat follows links: a result replaces the file at the end of the chain.
void RunFiles::add_candidate(const std::string& path, const char* remedy) {
  struct stat st;
  if (stat_of(path, st)) candidates_.push_back({path, st.st_dev, st.st_ino, remedy});
}

void RunFiles::watch_numbered(const std::vector<std::string>& stems, int step, int last, const char* remedy) {
  numbered_stems_ = stems;
  numbered_step_ = step;
  numbered_last_ = last;
  for (const std::string& name : numbered_in_directory()) add_candidate(name, remedy);
}

bool RunFiles::is_numbered(const std::string& name) const {
  for (const std::string& stem : numbered_stems_) {
    if (name.compare(0, stem.size() + 1, stem + "_") != 0) continue;
    size_t end = stem.size() + 1;
    long long number = 0;
    // No leading zero: the writer prints the number in decimal.
    if (end >= name.size() || name[end] == '0') continue;
    while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end])) &&
           number <= numbered_last_)
      number = 10 * number + (name[end++] - '0');
    if (number > numbered_last_ || number % numbered_step_ != 0) continue;
    if (written_file(name.substr(0, end)) == name) return true;
  }
  return false;
}

std::vector<std::string> RunFiles::numbered_in_directory() const {
  std::vector<std::string> names;
  if (numbered_stems_.empty() || numbered_step_ <= 0) return names;
  DIR* dir = opendir(".");
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir))
    if (is_numbered(entry->d_name)) names.push_back(entry->d_name);
  closedir(dir);
  return names;
}

void RunFiles::refuse_output_over_input() const {
  // The input is known, and a standard error that is the input was refused
  // as the input was opened.
  io_release_held_prints();
  for (const Candidate& c : candidates_)
    if (io_was_read(c.device, c.inode))
      fatal_exitf(-1, stdout, "Error: a result would overwrite the input image; %s ... (%s)\n", c.remedy,
                  c.path.c_str());
  // With no result there, the standard output takes what the run prints:
  // redirected onto the input (1<>, >>), the progress would write over it.
  if (io_standard_output() != stdout) return;
  struct stat st;
  if (fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode) || !io_was_read(st.st_dev, st.st_ino)) return;
  // What is already printed but still buffered must not reach it either.
  io_send_nowhere(STDOUT_FILENO);
  fatal_exitf(-1, stderr,
              "Error: the standard output is the input image, which what the run prints would "
              "overwrite; send it elsewhere ... (-)\n");
}

void RunFiles::refuse_unwritable() const {
  std::vector<std::string> names = outputs_;
  if (numbered_step_ > 0 && numbered_last_ >= numbered_step_)
    for (const std::string& stem : numbered_stems_)
      names.push_back(stem + "_" + std::to_string(numbered_step_));
  // Names the writer would refuse first: the given name that names no file
  // is reported as such, not through a result derived from it.
  std::vector<std::string> files;
  for (const std::string& name : names) files.push_back(io_float_output_file(name.c_str(), nl_, nc_));
  for (std::size_t k = 0; k < names.size(); k++) {
    if (files[k].empty()) continue;  // the standard output
    const std::string refusal = io_output_refusal(names[k].c_str(), files[k]);
    if (!refusal.empty()) fatal_exitf(-1, stdout, "Error: cannot write a result file %s\n", refusal.c_str());
  }
}

void RunFiles::arm() { io_hold_outputs(); }

void RunFiles::commit() { io_commit_outputs(); }
