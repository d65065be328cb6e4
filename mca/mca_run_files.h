// The files of one run of qz_mca: the input must never be among the results
// (a result named like the input, or derived to its name, would destroy it),
// and a run that fails part way leaves none of the results it had written.
#pragma once

#include <string>
#include <vector>

class RunFiles {
 public:
  // outputs: the names the run will hand to the image writer, which may add
  // the format's extension.
  RunFiles(const std::string& input, const std::vector<std::string>& outputs);

  // Stops with a message naming the file when an output would be the input.
  void refuse_output_over_input() const;
  // From here until commit(), an exit removes every output file that was
  // created or changed since the RunFiles was made.
  void arm();
  void commit();

 private:
  struct Candidate {
    std::string path;
    bool existed;
    long long device, inode, size, mtime_ns;
  };
  std::string input_;
  std::vector<Candidate> candidates_;
  void remove_changed() const;
  static void remove_on_exit();
};
