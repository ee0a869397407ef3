#include "video_encoder/encoder_test_support.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/settings.h"
#include "support/test_support.h"

namespace calvex::video::testing {

void SyntheticFrame(int width, int height, int n, std::uint8_t* bitmap) {
  const int stride = BitmapStride(width, 24);
  std::uint32_t noise = 12345u + static_cast<std::uint32_t>(n) * 2654435761u;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap + static_cast<std::size_t>(height - 1 - y) * stride;
    for (int x = 0; x < width; ++x) {
      noise = noise * 1664525u + 1013904223u;
      const int grain = static_cast<int>((noise >> 24) & 15) - 8;
      int r = (x * 255) / width, g = (y * 255) / height, b = ((x + y + 3 * n) * 4) & 255;
      const int bar = (x + 4 * n) % 64;
      if (bar < 12) r = g = 230;
      const int sx = (n * 3) % (width > 24 ? width - 24 : 1), sy = height / 3;
      if (x >= sx && x < sx + 24 && y >= sy && y < sy + 24) r = 250, g = 40, b = 40;
      auto clip = [](int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
      row[3 * x] = clip(b + grain);
      row[3 * x + 1] = clip(g + grain);
      row[3 * x + 2] = clip(r + grain);
    }
  }
}

void HighMotionFrame(int width, int height, int n, std::uint8_t* bitmap) {
  const int stride = BitmapStride(width, 24);
  std::uint32_t grain = 777u + static_cast<std::uint32_t>(n) * 2246822519u;
  auto hash = [](int u, int v) {
    std::uint32_t h =
        static_cast<std::uint32_t>(u) * 73856093u ^ static_cast<std::uint32_t>(v) * 19349663u;
    h *= 2654435761u;
    return static_cast<int>(h >> 24);
  };
  auto clip = [](int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap + static_cast<std::size_t>(height - 1 - y) * stride;
    // Speeds per band of rows, in pels per picture: slow, within the B ranges, within the P
    // range only, and beyond every range.
    static constexpr int kSpeed[4][2] = {{1, 0}, {-2, 1}, {3, -3}, {9, 5}};
    const int* v = kSpeed[(4 * y / height) & 3];
    for (int x = 0; x < width; ++x) {
      grain = grain * 1664525u + 1013904223u;
      const int g0 = static_cast<int>((grain >> 26) & 7) - 4;
      const int u = x - v[0] * n, w = y - v[1] * n;
      // Texture: smooth gradients with blocky detail the search can lock onto.
      int r = ((u * 5 + w * 3) & 255) / 2 + hash(u >> 2, w >> 2) / 2;
      int g = ((w * 4) & 255) / 2 + hash(u >> 3, w >> 1) / 3;
      int b = ((u * 2 - w) & 127) + hash(u, w) / 4;
      // A flat area that never changes: skipped macroblocks.
      if (x < width / 4 && y >= height / 2 && y < 3 * height / 4) r = 90, g = 160, b = 60;
      // A fast saturated object.
      const int ox = (n * 11) % (width > 20 ? width - 20 : 1),
                oy = (n * 7) % (height > 20 ? height - 20 : 1);
      if (x >= ox && x < ox + 20 && y >= oy && y < oy + 20) r = 255, g = 0, b = (x - ox) * 12;
      row[3 * x] = clip(b + g0);
      row[3 * x + 1] = clip(g + g0);
      row[3 * x + 2] = clip(r + g0);
    }
  }
}

Status RawVideoSource::FetchPicture(int displayNumber, std::uint8_t* bitmap) {
  if (displayNumber < 0 || displayNumber >= frameCount()) return 1001;
  const std::size_t frameSize = static_cast<std::size_t>(width_) * height_ * 3;
  const std::uint8_t* frame = raw_.data() + frameSize * static_cast<std::size_t>(displayNumber);
  const int stride = BitmapStride(width_, 24);
  for (int y = 0; y < height_; ++y)
    std::memcpy(bitmap + static_cast<std::size_t>(height_ - 1 - y) * stride,
                frame + static_cast<std::size_t>(y) * width_ * 3,
                static_cast<std::size_t>(width_) * 3);
  return kOk;
}

std::vector<std::uint8_t> GenerateRawVideo(const std::string& lavfi, int width, int height,
                                           int frames) {
  calvex::testing::TempDir dir;
  const std::string out = dir.File("raw.bgr");
  const std::string cmd =
      "ffmpeg -nostdin -v error -f lavfi -i " + calvex::testing::ShellQuote(lavfi) + " -frames:v " +
      std::to_string(frames) + " -s " + std::to_string(width) + "x" + std::to_string(height) +
      " -pix_fmt bgr24 -f rawvideo -y " + calvex::testing::ShellQuote(out);
  if (calvex::testing::RunCommand(cmd).exitCode != 0) return {};
  return calvex::testing::ReadFileBytes(out);
}

void RecordingEvents::PictureReconstructed(int displayNumber, int pictureType,
                                           const PictureBuffer& b) {
  types.push_back(pictureType);
  if (!keepPictures) return;
  Yuv420 p;
  // The padded planes; cropped by the caller who knows the size.
  p.width = b.y.width;
  p.height = b.y.height;
  p.y = b.y.pixels;
  p.cb = b.cb.pixels;
  p.cr = b.cr.pixels;
  pictures[displayNumber] = std::move(p);
}

VideoEncoderParams MakeParams(int width, int height, int pictures, int frameRateIndex,
                              std::uint32_t bitRate) {
  const FrameRateRow& row = FrameRateTable[static_cast<std::size_t>(frameRateIndex)];
  VideoEncoderParams p;
  p.width = width;
  p.height = height;
  p.pictureRateCode = row.pictureRateCode;
  p.rateNum = row.targetRateNum;
  p.rateDen = row.targetRateDen;
  p.milliFps = row.targetMilliFps;
  p.bitRate = bitRate;
  p.pictureCount = pictures;
  return p;
}

std::vector<Yuv420> DecodeWithFfmpeg(const std::string& path, int width, int height,
                                     std::string* log) {
  calvex::testing::TempDir dir;
  const std::string out = dir.File("decoded.yuv");
  const auto r = calvex::testing::RunCommand(
      "ffmpeg -nostdin -v warning -f mpegvideo -i " + calvex::testing::ShellQuote(path) +
      " -fps_mode passthrough -f rawvideo -pix_fmt yuv420p -y " + calvex::testing::ShellQuote(out));
  if (log) {
    // ffmpeg always notes that an elementary stream has no duration; anything else counts.
    log->clear();
    std::size_t start = 0;
    while (start < r.output.size()) {
      std::size_t end = r.output.find('\n', start);
      if (end == std::string::npos) end = r.output.size();
      const std::string line = r.output.substr(start, end - start);
      if (!line.empty() && line.find("Estimating duration from bitrate") == std::string::npos)
        *log += line + "\n";
      start = end + 1;
    }
  }
  std::vector<Yuv420> frames;
  if (r.exitCode != 0) return frames;
  const auto bytes = calvex::testing::ReadFileBytes(out);
  const std::size_t ySize = static_cast<std::size_t>(width) * height;
  const std::size_t cSize = static_cast<std::size_t>(width / 2) * (height / 2);
  for (std::size_t at = 0; at + ySize + 2 * cSize <= bytes.size(); at += ySize + 2 * cSize) {
    Yuv420 f;
    f.width = width;
    f.height = height;
    f.y.assign(bytes.begin() + static_cast<long>(at),
               bytes.begin() + static_cast<long>(at + ySize));
    f.cb.assign(bytes.begin() + static_cast<long>(at + ySize),
                bytes.begin() + static_cast<long>(at + ySize + cSize));
    f.cr.assign(bytes.begin() + static_cast<long>(at + ySize + cSize),
                bytes.begin() + static_cast<long>(at + ySize + 2 * cSize));
    frames.push_back(std::move(f));
  }
  return frames;
}

namespace {

// Crops a padded reconstruction (see RecordingEvents) to width x height.
Yuv420 Crop(const Yuv420& padded, int width, int height) {
  if (padded.width == width && padded.height == height) return padded;
  Yuv420 c;
  c.width = width;
  c.height = height;
  for (int y = 0; y < height; ++y)
    c.y.insert(c.y.end(), padded.y.begin() + y * padded.width,
               padded.y.begin() + y * padded.width + width);
  for (int y = 0; y < height / 2; ++y) {
    c.cb.insert(c.cb.end(), padded.cb.begin() + y * (padded.width / 2),
                padded.cb.begin() + y * (padded.width / 2) + width / 2);
    c.cr.insert(c.cr.end(), padded.cr.begin() + y * (padded.width / 2),
                padded.cr.begin() + y * (padded.width / 2) + width / 2);
  }
  return c;
}

}  // namespace

double Psnr(const Yuv420& aIn, const Yuv420& bIn) {
  const int w = std::min(aIn.width, bIn.width), h = std::min(aIn.height, bIn.height);
  const Yuv420 a = Crop(aIn, w, h), b = Crop(bIn, w, h);
  double sse = 0;
  std::size_t count = 0;
  auto add = [&](const std::vector<std::uint8_t>& x, const std::vector<std::uint8_t>& y) {
    for (std::size_t i = 0; i < x.size() && i < y.size(); ++i) {
      const double d = static_cast<double>(x[i]) - y[i];
      sse += d * d;
    }
    count += std::min(x.size(), y.size());
  };
  add(a.y, b.y);
  add(a.cb, b.cb);
  add(a.cr, b.cr);
  if (sse == 0 || count == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(count) / sse);
}

// MD5 (RFC 1321).
std::string Md5Hex(const std::vector<std::uint8_t>& bytes) {
  static const std::uint32_t k[64] = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
      0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
      0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
      0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
      0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
      0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
      0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
      0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
      0xeb86d391};
  static const int r[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
  std::vector<std::uint8_t> m = bytes;
  const std::uint64_t bits = static_cast<std::uint64_t>(bytes.size()) * 8;
  m.push_back(0x80);
  while (m.size() % 64 != 56) m.push_back(0);
  for (int i = 0; i < 8; ++i) m.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  std::uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  for (std::size_t off = 0; off < m.size(); off += 64) {
    std::uint32_t w[16];
    for (int i = 0; i < 16; ++i)
      w[i] = static_cast<std::uint32_t>(m[off + 4 * i]) | m[off + 4 * i + 1] << 8 |
             m[off + 4 * i + 2] << 16 | static_cast<std::uint32_t>(m[off + 4 * i + 3]) << 24;
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; ++i) {
      std::uint32_t f;
      int g;
      if (i < 16)
        f = (b & c) | (~b & d), g = i;
      else if (i < 32)
        f = (d & b) | (~d & c), g = (5 * i + 1) % 16;
      else if (i < 48)
        f = b ^ c ^ d, g = (3 * i + 5) % 16;
      else
        f = c ^ (b | ~d), g = (7 * i) % 16;
      const std::uint32_t t = d;
      d = c;
      c = b;
      const std::uint32_t x = a + f + k[i] + w[g];
      b = b + ((x << r[i]) | (x >> (32 - r[i])));
      a = t;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d;
  }
  char out[33];
  for (int i = 0; i < 16; ++i)
    std::snprintf(out + 2 * i, 3, "%02x", (h[i / 4] >> (8 * (i % 4))) & 0xFF);
  return out;
}

std::vector<const Kernels*> VectorKernels() {
  std::vector<const Kernels*> k{&Sse2Kernels()};
  for (const auto& [set, name] : {std::pair{Avx2Kernels(), "AVX2"}, {Avx512Kernels(), "AVX-512"}}) {
    if (set)
      k.push_back(set);
    else
      std::printf("%s kernels not tested: the processor lacks them\n", name);
  }
  return k;
}

}  // namespace calvex::video::testing
