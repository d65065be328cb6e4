// The isotropic undecimated B3-spline wavelet transform ("a trous"): every
// scale keeps the image size, each wavelet band is the difference of two
// successive smoothings and the last band is the coarsest smoothing. It is the
// MCA's a trous base and the transform beneath the multiscale local DCT.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "array/base_types.h"
#include "array/to_array.h"
#include "filters/undec_sub_band_filter.h"

class ATROUS_2D_WT {
 public:
  // The B3-spline undecimated filter bank, created and owned by the object
  // for callers that filter through a bank; the smoothing here has the B3
  // taps built in and does not use it.
  UndecSubBandFilter* UndecFilterBank;
  // Modified transform: w_s = c_s - H_s H_s c_s, inverted by the modified
  // reconstruction. Plain transform: w_s = c_s - H_s c_s.
  Bool ModifiedATWT = False;
  // With the plain transform, reconstruct by c_s = H_s c_{s+1} + (I + H_s) w_s
  // instead of the plain sum of the bands.
  Bool Adjoint = False;
  // Rule for every read outside the image in the smoothing.
  type_border Border = I_CONT;

  ATROUS_2D_WT() : UndecFilterBank(new UndecSubBandFilter(U_B3SPLINE)) {}
  ~ATROUS_2D_WT() { delete UndecFilterBank; }
  ATROUS_2D_WT(const ATROUS_2D_WT&) = delete;
  ATROUS_2D_WT& operator=(const ATROUS_2D_WT&) = delete;

  // Creates NbrScale zero-filled Nl x Nc bands named "band_1", "band_2", ...
  // The caller owns the array and returns it through free().
  void alloc(to_array<float, false>*& TabBand, int Nl, int Nc, int NbrScale);
  // Releases the bands and clears the pointer.
  void free(to_array<float, false>*& TabBand, int NbrScale);

  // B3-spline smoothing of In at scale s (holes of 2^s) into Out, a distinct
  // image; with Add, In is added to the result. Out takes In's size.
  void b3spline_filtering(const to_array<float, false>& In, to_array<float, false>& Out,
                          int s, Bool Add = False);

  void transform(const to_array<float, false>& Image, to_array<float, false>* TabBand,
                 int NbrScale);
  // Work on finished lines of the bands: called with FirstLine and EndLine.
  using LineTask = std::function<void(int FirstLine, int EndLine)>;
  // The transform, then LinesDone over ranges of lines that together cover
  // the image once, each range as soon as every band of its lines is final,
  // by the thread that made the last of them, while they are still in cache.
  // Ranges are done at the same time on the threads of the transform's
  // region (omp_get_thread_num() tells them apart, for partial results),
  // and a range may rewrite those lines of Image.
  void transform_then(const to_array<float, false>& Image, to_array<float, false>* TabBand,
                      int NbrScale, const LineTask& LinesDone);
  // With AddLastScale false the smooth band takes no part.
  void recons(const to_array<float, false>* TabBand, to_array<float, false>& Image,
              int NbrScale, Bool AddLastScale = True);
  // Lines FirstLine to EndLine - 1 of the plain reconstruction, the sum of
  // the bands (band 0 first), into Image, which already has the bands' size.
  // No threads of its own: for callers that share the lines among their
  // threads and do more to each line while it is in cache.
  void sum_band_lines(const to_array<float, false>* TabBand, to_array<float, false>& Image,
                      int NbrScale, Bool AddLastScale, int FirstLine, int EndLine) const;

  // Standard deviation that unit white noise has in band s (0 outside 0..9).
  float norm_band(int s) const;

 private:
  // Work storage of one thread: the line-pass results of the last rows met,
  // in a ring indexed by row; five rows for the edge rows whose neighbours
  // (through a periodic border) lie too far apart for the ring; the samples
  // around the ends of a line with the border rule applied.
  struct LineCache {
    // Values that one thread writes at every row. The threads' buffers are
    // allocated side by side: a cache line of guard at either end keeps any
    // line from being shared by two threads, which would send it from core
    // to core at every row.
    template <class T>
    class Buffer {
     public:
      // Room for at least n values; those held already are kept.
      T* reserve(size_t n) {
        if (storage_.size() < n + 2 * Guard) storage_.resize(n + 2 * Guard);
        return data();
      }
      T* data() { return storage_.empty() ? nullptr : storage_.data() + Guard; }

     private:
      static constexpr size_t Guard = 64 / sizeof(T);
      std::vector<T> storage_;
    };
    Buffer<float> ring;
    Buffer<int> ring_row;  // image row held by each ring slot, -1 if none
    Buffer<float> edge_rows;
    Buffer<float> edge_pad;
    // The forward sweep: one ring of line-pass rows per smoothing level, and
    // a row for the smoothings of rows that another thread owns.
    Buffer<float> level_rings;
    Buffer<float> spare_row;
  };

  // Out = H_s(In) [+ Addend] and Diff = Minuend - H_s(In), over nl x nc
  // buffers; a null pointer leaves that part out. The inputs are never
  // written. The rows are shared among the threads.
  void smooth(const float* In, float* Out, int nl, int nc, int s, const float* Addend,
              const float* Minuend, float* Diff);

  // The plain forward transform with every smoothing in one sweep down the
  // image, each thread's share with the rows its columns reach beyond it
  // (the task, if any, done on the share once every thread is through);
  // false when the border rule or the image size does not allow it.
  bool transform_sweep(const float* input, to_array<float, false>* TabBand, int NbrScale,
                       int nl, int nc, const LineTask* LinesDone);
  // The plain forward transform level by level in one parallel region, each
  // thread on its own lines and then on the rest of the others' (the task,
  // if any, done on lines as the last level finishes them), for 2 to 31
  // scales.
  void transform_shared(const float* input, to_array<float, false>* TabBand, int NbrScale,
                        int nl, int nc, const LineTask* LinesDone);
  // The plain or the modified forward transform scale by scale, each
  // smoothing shared among the threads.
  void transform_by_scales(const float* input, to_array<float, false>* TabBand, int NbrScale,
                           int nl, int nc);
  // The input of the transform, with the bands in the image's shape: a copy
  // when the image is one of the bands.
  const float* prepare_transform(const to_array<float, false>& Image,
                                 to_array<float, false>* TabBand, int NbrScale);

  // Work storage kept between calls: the transform smooths every band of
  // every iteration, so it must not allocate per call. The threads of one
  // call share it, so an object serves one call at a time.
  to_array<float, false> LinePass;  // line pass of the whole image, for wide holes
  to_array<float, false> LinePassNext;  // the next level's, while LinePass is read
  to_array<float, false> WorkIma;   // smoothings of the transform and reconstructions
  to_array<float, false> WorkIma2;  // second smoothing buffer of the transform
  std::vector<float> ZeroLine;      // the rows outside the image under I_ZERO
  std::vector<LineCache> Caches;    // one per thread
  // The lines of one pass of the level-by-level transform that a thread has
  // not yet begun, first and end packed in one word: the thread takes them
  // from the front, and a thread that has made its own takes from the back.
  struct alignas(64) LineShare {
    std::atomic<uint64_t> lines{0};
  };
  std::unique_ptr<LineShare[]> Shares;  // one per thread and pass
  size_t ShareCount = 0;
};
