// Threads that do not spin away the machine. GCC's OpenMP runtime lets a
// waiting thread spin for some milliseconds before it sleeps; on a machine
// whose cores are busy with other work the spinning threads take the cores
// from the ones with work to do, and a run on all threads can take many times
// as long as on one. The runtime reads its wait policy once, in a constructor
// of its own, before main: the program links the runtime in and sets the
// policy from a constructor of its own that runs first.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

// The spin count, in the runtime's own units, of threads that have a core of
// their own: some microseconds, far below the runtime's default.
inline constexpr const char* QuietSpinCount = "10000";

// The environment variables to set, name and value: none when the user chose
// a wait policy or a spin count, or when one thread runs; a short spin when
// the other runnable tasks leave a core to each of max_threads threads, with
// a thread bound to each core when the threads take them all and the user
// chose no binding or places; otherwise threads that sleep at once. lookup
// reads a variable, null when it is not set; other_tasks(most) counts the
// other runnable tasks (-1 when unknown), and may count again while the
// count is above most.
std::vector<std::pair<std::string, std::string>> sleeping_thread_settings(
    const std::function<const char*(const char*)>& lookup, int max_threads,
    const std::function<int(int most)>& other_tasks, int cpus);

// Other runnable tasks at this moment, from a file in the format of
// /proc/loadavg, whose fourth field counts the runnable tasks, this process
// included; -1 when it cannot be read.
int other_runnable_tasks(const char* loadavg);

// The least of up to `counts` results of count(), with pause() between two,
// stopping at the first that is at most `most` or at the first that cannot
// be read (count() gives -1); -1 when none was read. Tasks runnable at one
// instant include tasks on their way to sleep: the one that started the
// program, about to wait for it, and the other ends of a pipe, starting up
// before they block on it.
int least_count(const std::function<int()>& count, int most, int counts,
                const std::function<void()>& pause);

// The number of threads the runtime will give a parallel region, from
// OMP_NUM_THREADS (null when it is not set) as the runtime reads it: the
// first count of the list; cpus when there is none or it is not a positive
// number.
int runtime_thread_count(const char* omp_num_threads, int cpus);

// Puts the settings above in the environment. Called before the OpenMP
// runtime reads its settings, and before anything else of the program runs.
void set_sleeping_threads();
