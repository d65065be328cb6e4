// Two-dimensional wavelet packets: the recursive analysis into the storage
// images, the block tree and band table it builds once, the level-by-level
// reconstruction, and the thresholds.
#include "multires/wpackets_2d.h"

#include <cmath>
#include <cstdio>

#include "array/fatal.h"
#include "io/io_dispatch.h"
#include "multires/sub_band_2d.h"

namespace {

using Image = to_array<float, false>;

// Copies the nl x nc rectangle at (i0, j0) of src into dst (resized).
void copy_out(const Image& src, int i0, int j0, int nl, int nc, Image& dst) {
  if (dst.nl() != nl || dst.nc() != nc || dst.naxis() != 2) dst.alloc(nl, nc, "block");
  for (int i = 0; i < nl; i++) {
    const float* s = src.buffer() + static_cast<long>(i0 + i) * src.nc() + j0;
    float* d = dst.buffer() + static_cast<long>(i) * nc;
    for (int j = 0; j < nc; j++) d[j] = s[j];
  }
}

// Copies src whole into dst at (i0, j0).
void copy_in(const Image& src, int i0, int j0, Image& dst) {
  for (int i = 0; i < src.nl(); i++) {
    const float* s = src.buffer() + static_cast<long>(i) * src.nc();
    float* d = dst.buffer() + static_cast<long>(i0 + i) * dst.nc() + j0;
    for (int j = 0; j < src.nc(); j++) d[j] = s[j];
  }
}

// Hard thresholding of a rectangle of a storage image.
void threshold_rect(Image& ima, const InfoBlock& b, float level) {
  for (int i = 0; i < b.nl; i++) {
    float* p = ima.buffer() + static_cast<long>(b.depi + i) * ima.nc() + b.depj;
    for (int j = 0; j < b.nc; j++)
      if (std::fabs(p[j]) < level) p[j] = 0.f;
  }
}

// The four decimated sub-bands of an n x m block: H, V, D, S, with their
// places relative to the block's corner.
struct DecimatedGeometry {
  int nl[4], nc[4], di[4], dj[4];
  DecimatedGeometry(int n, int m) {
    const int n0 = (n + 1) / 2, n1 = n / 2, m0 = (m + 1) / 2, m1 = m / 2;
    const int g[4][4] = {{n0, m1, 0, m0}, {n1, m0, n0, 0}, {n1, m1, n0, m0}, {n0, m0, 0, 0}};
    for (int k = 0; k < 4; k++) {
      nl[k] = g[k][0];
      nc[k] = g[k][1];
      di[k] = g[k][2];
      dj[k] = g[k][3];
    }
  }
};

}  // namespace

WPACKETS_2D::WPACKETS_2D(SubBand1D& filter) : TabTrans(new WPTransf_2D), SB1D(&filter) {}

WPACKETS_2D::~WPACKETS_2D() {
  free();
  delete TabTrans;
}

void WPACKETS_2D::alloc(int Nl_in, int Nc_in, int NbrPlan_in, int NbrUndec_in) {
  free();
  // With fewer than two scales there is no split and no band table.
  if (NbrPlan_in < 2)
    fatal_exitf(-1, stdout, "Error: bad number of scales in the wavelet packets: %d (at least 2) ...\n",
                NbrPlan_in);
  Nl = Nl_in;
  Nc = Nc_in;
  NbrPlan = NbrPlan_in;
  InfoBandSet = False;
  Verbose = False;
  WP = True;
  CurScale = -1;
  NbrUndec = NbrUndec_in;
  if (NbrUndec >= NbrPlan) NbrUndec = NbrPlan - 1;
  if (NbrUndec < 0) NbrUndec = 0;
  TabBlockNum.alloc(NbrPlan, "TabBlockNum");
  SizeTransf = static_cast<int>(std::pow(4., NbrUndec));
  BlockInfo.assign(NbrPlan, {});
  TabTrans->NbrBand = -1;
  init_struct();
}

void WPACKETS_2D::free() {
  for (auto& entry : TabTrans->TabIma) delete entry.second;
  TabTrans->TabIma.clear();
}

int WPACKETS_2D::delta(int s) const {
  int p = 1;
  for (int k = 0; k <= s; k++) p *= 4;
  return SizeTransf / p;
}

void WPACKETS_2D::init_struct() {
  if (NbrUndec == 0) {
    TabTrans->TabIma[0] = new Image(Nl, Nc);
    return;
  }
  Image none;
  CurScale = -1;
  wpRecursifAlloc(none, 0, 0);
}

void WPACKETS_2D::wpRecursifAlloc(Image& Block, int Key, int Num) {
  CurScale++;
  const int s = CurScale;
  if (s < NbrUndec && s < NbrPlan - 1) {
    const int d = delta(s);
    for (int k = 0; k < 4; k++) {
      Image*& slot = TabTrans->TabIma[Key + k * d];
      delete slot;
      slot = new Image(Nl, Nc);
      const int num = ++TabBlockNum(s);
      wpRecursifAlloc(Block, Key + k * d, num);
    }
  }
  (void)Num;
  CurScale--;
}

void WPACKETS_2D::init_infos() {
  for (auto& level : BlockInfo) level.clear();
}

void WPACKETS_2D::check_size(const Image& Image, const char* where) const {
  if (Image.nl() != Nl || Image.nc() != Nc)
    fatal_exitf(-1, stdout,
                "Error: bad image size in WPACKETS_2D::%s: %d x %d, allocated for %d x %d ...\n",
                where, Image.nl(), Image.nc(), Nl, Nc);
}

void WPACKETS_2D::transform(Image& Image, WPTransf_2D*& Trans) {
  check_size(Image, "transform");
  CurScale = -1;
  wpRecursifAnalysis(Image, Pt{}, 0, 0);
  if (!InfoBandSet) set_info_band();
  Trans = TabTrans;
}

void WPACKETS_2D::wpRecursifAnalysis(Image& Block, Pt const& Pos, int Key, int Num) {
  CurScale++;
  if (CurScale == NbrPlan - 1) {
    if (Verbose)
      std::printf("working on last scale (%d) : plane size : (%d*%d) plane pos : (%d,%d)\n",
                  CurScale, Block.nl(), Block.nc(), Pos.i, Pos.j);
  } else {
    if (Verbose)
      std::printf("working on scale %d\ncurrent plane size : (%d*%d)\n", CurScale, Block.nl(),
                  Block.nc());
    if (CurScale < NbrUndec) {
      if (Verbose) std::printf("go undecimated at scale %d\n", CurScale);
      wpRecursifUndecimated(Block, Key, Num);
    } else {
      if (Verbose) std::printf("go decimated at scale %d\n", CurScale);
      wpRecursifDecimated(Block, Pos, Key, Num);
    }
  }
  CurScale--;
}

void WPACKETS_2D::wpRecursifUndecimated(Image& Block, int Key, int Num) {
  const int s = CurScale, n = Block.nl(), m = Block.nc(), d = delta(s);
  Image bands[4];
  for (Image& band : bands) band.alloc(n, m, "undec band");
  SubBand2D step(*SB1D);
  step.transform2d(Block, bands[0], bands[1], bands[2], bands[3], 1 << s);
  if (Verbose) {
    std::printf("Delta = %d at scale %d\nindice image : ", d, s);
    for (int k = 0; k < 4; k++) std::printf("%d ", Key + k * d);
    std::printf("\n");
  }
  save_res_undec(bands, Key);
  std::vector<InfoBlock> children(4);
  for (int k = 0; k < 4; k++) {
    const int num = ++TabBlockNum(s);
    children[k] = InfoBlock{Key + k * d, num, 0, 0, n, m};
    if (WP || k == 3) wpRecursifAnalysis(bands[k], Pt{}, Key + k * d, num);
  }
  if (!InfoBandSet) set_info(InfoBlock{Key, Num, 0, 0, n, m}, children);
}

void WPACKETS_2D::wpRecursifDecimated(Image& Block, Pt const& Pos, int Key, int Num) {
  const int s = CurScale, n = Block.nl(), m = Block.nc();
  const DecimatedGeometry g(n, m);
  Image bands[4];
  for (int k = 0; k < 3; k++) bands[k].alloc(g.nl[k], g.nc[k], "dec band");
  SB1D->SampleDist = 1 << NbrUndec;
  SubBand2D step(*SB1D);
  step.transform2d(Block, False, &bands[0], &bands[1], &bands[2], &bands[3]);
  save_res_dec(bands, Pos, Key);
  std::vector<InfoBlock> children(4);
  for (int k = 0; k < 4; k++) {
    const int num = ++TabBlockNum(s);
    const Pt at{Pos.i + g.di[k], Pos.j + g.dj[k]};
    children[k] = InfoBlock{Key, num, at.i, at.j, g.nl[k], g.nc[k]};
    if (WP || k == 3) wpRecursifAnalysis(bands[k], at, Key, num);
  }
  if (!InfoBandSet) set_info(InfoBlock{Key, Num, Pos.i, Pos.j, n, m}, children);
}

void WPACKETS_2D::save_res_undec(Image const* Bands, int Key) {
  const int d = delta(CurScale);
  for (int k = 0; k < 4; k++) *TabTrans->TabIma.at(Key + k * d) = Bands[k];
}

void WPACKETS_2D::save_res_dec(Image const* Bands, Pt const& Pos, int Key) {
  const DecimatedGeometry g(Bands[3].nl() + Bands[1].nl(), Bands[3].nc() + Bands[0].nc());
  Image& target = *TabTrans->TabIma.at(Key);
  for (int k = 0; k < 4; k++) copy_in(Bands[k], Pos.i + g.di[k], Pos.j + g.dj[k], target);
}

void WPACKETS_2D::set_info(InfoBlock B, std::vector<InfoBlock>& Children) {
  auto& level = BlockInfo[CurScale];
  if (level.count(B) != 0) return;
  if (Verbose)
    std::printf("add on pair at (scale:%d,IdParent:%d), coord parent : (%d,%d)\n", CurScale, B.id,
                B.depi, B.depj);
  InfoTrans& entry = level[B];
  entry.parent = B;
  entry.children = Children;
  if (Verbose) trace_info_block(entry, CurScale);
}

void WPACKETS_2D::set_info_band() {
  InfoBandSet = True;
  WPTransf_2D& t = *TabTrans;
  const auto& level = BlockInfo[NbrPlan - 2];
  t.NbrBand = 4 * static_cast<int>(level.size());
  for (auto* table : {&t.TabNl, &t.TabNc, &t.Depi, &t.Depj, &t.IndTabIma})
    table->alloc(t.NbrBand, "band table");
  int b = 0;
  for (const auto& entry : level)
    for (const InfoBlock& child : entry.second.children) {
      t.TabNl(b) = child.nl;
      t.TabNc(b) = child.nc;
      t.Depi(b) = child.depi;
      t.Depj(b) = child.depj;
      t.IndTabIma(b) = child.id;
      if (Verbose)
        std::printf("Band : %d Nl %d Nc = %d IndTabIma = %d Depi %d Depj %d\n", b, child.nl,
                    child.nc, child.id, child.depi, child.depj);
      b++;
    }
}

void WPACKETS_2D::recons(WPTransf_2D*& Trans, Image& Image) {
  check_size(Image, "recons");
  CurScale = NbrPlan;
  int step = 1 << NbrUndec;
  if (Verbose)
    std::printf("decimated scale number :  %d, undecimates scale number : %d\n",
                NbrPlan - NbrUndec - 1, NbrUndec);
  for (int l = 0; l < NbrPlan - NbrUndec - 1; l++) {
    CurScale--;
    if (Verbose) std::printf("recons decimated scale %d to scale %d\n", CurScale, CurScale - 1);
    for (const auto& entry : BlockInfo[CurScale - 1]) wp_Recons(Trans, CurScale, entry.second, step);
  }
  for (int l = 0; l < NbrUndec; l++) {
    CurScale--;
    step /= 2;
    if (Verbose)
      std::printf("recons undecimated from scale %d to scale %d\n", CurScale, CurScale - 1);
    for (const auto& entry : BlockInfo[CurScale - 1]) wp_Recons(Trans, CurScale, entry.second, step);
  }
  Image = *Trans->TabIma.at(0);
}

void WPACKETS_2D::wp_Recons(WPTransf_2D*& Trans, int Scale, InfoTrans const& T, int Step) {
  if (Verbose) {
    trace_info_block(T, Scale - 1);
    std::printf("Step = %d\n", Step);
  }
  Image bands[4];
  for (int k = 0; k < 4; k++) {
    const InfoBlock& c = T.children[k];
    copy_out(*Trans->TabIma.at(c.id), c.depi, c.depj, c.nl, c.nc, bands[k]);
  }
  const InfoBlock& p = T.parent;
  Image merged(p.nl, p.nc);
  SubBand2D step(*SB1D);
  if (is_scale_undecimated(Scale - 1)) {
    step.recons2d(bands[0], bands[1], bands[2], bands[3], merged, Step);
  } else {
    SB1D->SampleDist = Step;
    step.recons2d(merged, False, &bands[0], &bands[1], &bands[2], &bands[3]);
  }
  copy_in(merged, p.depi, p.depj, *Trans->TabIma.at(p.id));
}

void WPACKETS_2D::threshold(WPTransf_2D* Trans, float NSigma) {
  if (WP) wp_threshold(Trans, NSigma);
  else ortho_threshold(Trans, NSigma);
}

void WPACKETS_2D::threshold(WPTransf_2D* Trans, float Noise, float NSigma) {
  NoiseLevel = Noise;
  threshold(Trans, NSigma);
}

void WPACKETS_2D::wp_threshold(WPTransf_2D* Trans, float NSigma) {
  const float level = NSigma * NoiseLevel;
  for (int b = 0; b < Trans->nbr_band() - 1; b++) {
    const InfoBlock rect{Trans->IndTabIma(b), 0, Trans->Depi(b), Trans->Depj(b), Trans->TabNl(b),
                         Trans->TabNc(b)};
    threshold_rect(*Trans->TabIma.at(rect.id), rect, level);
  }
}

void WPACKETS_2D::ortho_threshold(WPTransf_2D* Trans, float NSigma) {
  for (int s = 0; s <= NbrPlan - 2; s++) {
    float factor = s == 0 ? NSigma + 1.f : NSigma;
    if (NSigma == 0.f) factor = 0.f;
    const float level = factor * NoiseLevel;
    for (const auto& entry : BlockInfo[s])
      for (int k = 0; k < 3; k++) {
        const InfoBlock& c = entry.second.children[k];
        if (Verbose)
          std::printf("scale:%d, block;%d, pos:(%d,%d), size:(%d,%d), Threshold level:%g\n", s,
                      c.id, c.depi, c.depj, c.nl, c.nc, level);
        threshold_rect(*Trans->TabIma.at(c.id), c, level);
      }
  }
  std::string name = "afterfilt";
  write_transf(name);
}

void WPACKETS_2D::write_transf(std::string& Name) {
  for (auto& entry : TabTrans->TabIma) {
    const std::string file = Name + "_" + std::to_string(entry.first) + ".fits";
    io_write_ima_float(file.c_str(), *entry.second);
  }
}

void WPACKETS_2D::trace() const {
  std::printf("Wavelet Packets classe attributes\n=================================\n");
  std::printf(" - plan number : %d\n - size image : (%d*%d)\n - undec plane number : %d\n"
              " - size transf : %d\n",
              NbrPlan, Nl, Nc, NbrUndec, SizeTransf);
}

void WPACKETS_2D::trace_info_block(InfoTrans const& T, int s) const {
  const InfoBlock& p = T.parent;
  std::printf(" --> set_info on sacle %d\n", s);
  std::printf("    ----  parent  [ id=%d, num=%d, size=(%d*%d), coord=(%d,%d) ]\n", p.id, p.num,
              p.nl, p.nc, p.depi, p.depj);
  for (size_t k = 0; k < T.children.size(); k++) {
    const InfoBlock& c = T.children[k];
    Image rect;
    copy_out(*TabTrans->TabIma.at(c.id), c.depi, c.depj, c.nl, c.nc, rect);
    std::printf("    ----  child %d [ id %d, num:%d, size=(%d*%d), coord=(%d,%d) ], mean=%g, "
                "sigma:%g, min=%g, max:%g\n",
                static_cast<int>(k), c.id, c.num, c.nl, c.nc, c.depi, c.depj, rect.mean(),
                rect.sigma(), rect.min(), rect.max());
  }
}

void WPACKETS_2D::trace_all_blocks() const {
  std::printf("information on all blocks\n=========================\n");
  for (int s = 0; s <= NbrPlan - 2; s++) {
    std::printf("==> Scale %d\n", s);
    for (const auto& entry : BlockInfo[s]) trace_info_block(entry.second, s);
  }
}
