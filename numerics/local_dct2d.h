// Local block DCT: the image cut into square blocks (optionally overlapping by
// half a block), each block's 2D DCT laid side by side in one transform image;
// the inverse recombines overlapping blocks with their sin²/cos² weights.
// LOCAL_DCT2D holds one such transform for a fixed image size and is the local
// DCT base of the MCA engine and the per-band transform of the multiscale DCT.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

#include "array/to_array.h"
#include "numerics/block_2d.h"

// Block DCT of in over the image tiling B into Trans, laid out by the
// transform tiling TB; Trans is resized to B's l_nl x l_nc when it differs.
void im_blockdct(to_array<float, false>& in, to_array<float, false>& Trans, Block2D& B,
                 Block2D& TB);
// The same with both tilings built here for the size of in.
void im_blockdct(to_array<float, false>& in, to_array<float, false>& Trans, int BlockSize,
                 Bool Overlap, Bool WeightFirst);

// Inverse block DCT of Trans into out (resized to B's nl x nc when it differs).
void im_invblockdct(to_array<float, false>& Trans, to_array<float, false>& out, Block2D& B,
                    Block2D& TB);
// The same for an Nl x Nc image, tilings built here.
void im_invblockdct(to_array<float, false>& Trans, to_array<float, false>& out, int BlockSize,
                    int Nl, int Nc, Bool Overlap, Bool WeightFirst);
// The same with the image size taken from Trans (halved with overlap).
void im_invblockdct(to_array<float, false>& Trans, to_array<float, false>& out, int BlockSize,
                    Bool Overlap, Bool WeightFirst);

// What the fused inverse does to each coefficient before its block goes back.
struct CoefficientRule;

// Floats starting on a cache line, so that the lines of a block or of a
// run of pixels each take as few cache lines as they can. Left
// uninitialised: every float is written before it is read. Work storage,
// not a value: a copy starts empty.
class LineAlignedFloats {
 public:
  LineAlignedFloats() = default;
  LineAlignedFloats(const LineAlignedFloats&) {}
  LineAlignedFloats& operator=(const LineAlignedFloats&) { return *this; }
  LineAlignedFloats(LineAlignedFloats&&) = default;
  LineAlignedFloats& operator=(LineAlignedFloats&&) = default;

  float* data() const { return data_.get(); }
  // At least n floats; what they held is lost when they move.
  void reserve(size_t n) {
    if (n <= size_) return;
    data_.reset(static_cast<float*>(::operator new[](n * sizeof(float), std::align_val_t(64))));
    size_ = n;
  }

 private:
  struct Free {
    void operator()(float* p) const { ::operator delete[](p, std::align_val_t(64)); }
  };
  std::unique_ptr<float[], Free> data_;
  size_t size_ = 0;
};

// Work storage of the block loops of one thread.
struct BlockDctScratch {
  LineAlignedFloats block;    // BlockSize x BlockSize, lines contiguous
  LineAlignedFloats lines;    // the same block transposed
  LineAlignedFloats lanes;    // one float per vector of the DCT engine
  std::vector<int> columns;   // image column read by each block column
};

// The runs of pixels of one image axis between two block starts, and the
// blocks of that axis that read or cover them.
struct BlockAxisRuns {
  std::vector<int> blocks;      // per run, how many blocks reach it
  std::vector<int> runs;        // the runs each block reaches, block after block
  std::vector<int> runs_start;  // those of block b from runs_start[b] to runs_start[b + 1]
  // What they were found for: pixels, image pixels, block side, step, blocks.
  int found_for[5] = {-1, -1, -1, -1, -1};
};

// Counts that the threads of a call change together. Work storage: a copy
// starts empty.
class AtomicCounts {
 public:
  AtomicCounts() = default;
  AtomicCounts(const AtomicCounts&) {}
  AtomicCounts& operator=(const AtomicCounts&) { return *this; }

  int size() const { return size_; }
  std::atomic<int>& operator[](int k) const { return counts_[k]; }
  void resize(int n) {
    if (n != size_) counts_.reset(new std::atomic<int>[n]);
    size_ = n;
  }

 private:
  std::unique_ptr<std::atomic<int>[]> counts_;
  int size_ = 0;
};

// Work storage of one call of the block loops, kept between calls.
struct BlockDctWork {
  std::vector<BlockDctScratch> threads;  // one per thread of the call
  // Every block's inverse, scaled and weighted as it goes into the image,
  // at the block's place in the transform image: the image pixels then sum
  // the pieces that cover them, each pixel by one thread.
  LineAlignedFloats pieces;
  BlockAxisRuns lines, columns;
  // Per run of pixels, line run after line run, the blocks still to be done
  // before it can be summed; the thread that does the last one sums it and
  // sets the count back for the next call.
  AtomicCounts countdown;
  // Per thread of a call, how many blocks of its share have been taken.
  AtomicCounts taken;
  // Block frequencies below removed_radius, for blocks of removed_size.
  std::vector<unsigned char> removed;
  float removed_radius = 0.f;
  int removed_size = 0;
};

class LOCAL_DCT2D {
 public:
  // Overlap requested at allocation, kept as given even when the image tiling
  // clears its own flag.
  Bool Overlap;
  int BlockSize;  // block side, a power of two of at least 2
  int Nl, Nc;     // image size; the object is not allocated while either is 0
  int NlTrans, NcTrans;  // size of the transform image
  Block2D B2D;           // tiling of the image, overlapping when requested
  Block2D TransB2D;      // tiling of the transform image, never overlapping
  to_array<float, false> DCTIma;  // the transform image, NlTrans x NcTrans

  LOCAL_DCT2D() { reset(); }
  ~LOCAL_DCT2D() { DCTIma.free(); }

  void reset();
  void alloc(int Nl, int Nc, int BlockSize, Bool Overlap, Bool WeightFirst);
  // Allocation from the size of a transform image (halved with overlap).
  void alloc_from_trans(int NlTrans, int NcTrans, int BlockSize, Bool Overlap,
                        Bool WeightFirst);

  // Block DCT of an Nl x Nc image into DCTIma.
  void transform(to_array<float, false>& Ima);
  // The same; MaxFabsWithoutZeroFreq receives what maxfabs_without_zerofreq()
  // returns right after, found while the blocks are written instead of by a
  // second scan of DCTIma.
  void transform(to_array<float, false>& Ima, float& MaxFabsWithoutZeroFreq);
  // Inverse of DCTIma into Ima, resized to Nl x Nc when it differs.
  void recons(to_array<float, false>& Ima);
  // Thresholds every coefficient of DCTIma, zero frequencies included, then
  // reconstructs as recons does, block by block in one pass: hard
  // thresholding at Level (a magnitude below it becomes 0), or soft
  // thresholding at Level with Soft. With SupportRadius > 0, the coefficients
  // (i, j) of every block with sqrt(i² + j²) < SupportRadius (squares in
  // integers, the rest in single precision) become 0 after thresholding.
  // DCTIma keeps the thresholded coefficients.
  void threshold_recons(to_array<float, false>& Ima, float Level, Bool Soft,
                        float SupportRadius = 0.f);
  // transform (Ima) then threshold_recons (Ima, Level, Soft, SupportRadius),
  // the same results, with the threads started once for both.
  void transform_threshold_recons(to_array<float, false>& Ima, float Level, Bool Soft,
                                  float SupportRadius = 0.f);
  // DCTIma becomes a copy of Trans, which must be NlTrans x NcTrans.
  void set_dct(to_array<float, false>& Trans);

  // Largest coefficient outside each block's zero frequency, at least 0.
  float max_without_zerofreq() const;
  // Coefficient of largest magnitude outside each block's zero frequency,
  // with its sign; 0 when there is none.
  float maxfabs_without_zerofreq() const;

  int nl() const { return NlTrans; }
  int nc() const { return NcTrans; }
  int block_size() const { return BlockSize; }
  float& operator()(int i, int j) const { return DCTIma(i, j); }
  // Largest coefficient, zero frequencies included.
  float max() const;
  float norm() const { return 1.0f; }

 private:
  void check_allocated() const;
  void check_image(const to_array<float, false>& Ima) const;
  void recons_with(to_array<float, false>& Ima, const CoefficientRule* rule);
  // Overlap weights of the image tiling, block b of an axis at b * BlockSize:
  // they depend on the tiling alone.
  std::vector<float> weight_l_, weight_c_;
  std::vector<float> block_maxfabs_;        // per block, of the last transform
  // An object serves one call at a time.
  BlockDctWork work_;
};
