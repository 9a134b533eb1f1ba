#include "romwright/image/rom_image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "romwright/image/header_score.h"

namespace romwright {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kMB = 0x100000;
constexpr std::uint32_t kKB = 0x400;

// Bytes that differ from their neighbours and from offsets 512 and 1 KB away,
// so a dropped or kept copier header and a misplaced copy both show.
std::vector<std::uint8_t> patternOf(std::uint32_t size, std::uint32_t seed = 0) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t x = 0x9E3779B9u ^ seed;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return bytes;
}

// A record that differs from a new one in every field, to see that a failed
// load leaves it alone.
RomImage sentinelImage() {
  RomImage image;
  image.data = {1, 2, 3};
  image.size = 3;
  image.cursor = 2;
  image.sramKb = 32;
  image.hadCopierHeader = 1;
  image.isHiRom = 0;
  image.mirrored = 1;
  return image;
}

void expectSentinel(const RomImage& image, const std::string& what) {
  const RomImage s = sentinelImage();
  EXPECT_EQ(image.data, s.data) << what;
  EXPECT_EQ(image.size, s.size) << what;
  EXPECT_EQ(image.cursor, s.cursor) << what;
  EXPECT_EQ(image.sramKb, s.sramKb) << what;
  EXPECT_EQ(image.hadCopierHeader, s.hadCopierHeader) << what;
  EXPECT_EQ(image.isHiRom, s.isHiRom) << what;
  EXPECT_EQ(image.mirrored, s.mirrored) << what;
}

class RomFile : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "rom_image_test.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = (dir_ / name).string();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    if (file == nullptr) return path;
    if (!bytes.empty()) {
      EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    }
    std::fclose(file);
    return path;
  }

  // Loads with stdout captured; returns what was printed.
  std::string load(const std::string& path, bool mirror, RomImage& image, bool& ok) {
    testing::internal::CaptureStdout();
    ok = loadRomFile(path.c_str(), mirror, image);
    return testing::internal::GetCapturedStdout();
  }

  fs::path dir_;
};

TEST_F(RomFile, LoadsAndDropsACopierHeaderByBit9Alone) {
  const struct {
    const char* what;
    std::uint32_t fileLength;
    std::uint8_t copierHeader;
  } cases[] = {
      {"empty file", 0, 0},
      {"1 MB", kMB, 0},
      {"1 MB + 512", kMB + 512, 1},
      {"1 MB + 1 KB, bit 9 clear", kMB + kKB, 0},
      {"1 MB + 100, bit 9 clear", kMB + 100, 0},
      {"1 MB + 768, bit 9 set", kMB + 768, 1},
      {"512 bytes: a copier header alone", 512, 1},
      {"exactly 4 MB", 4 * kMB, 0},
      {"4 MB + 512", 4 * kMB + 512, 1},
  };
  for (const auto& c : cases) {
    const auto bytes = patternOf(c.fileLength, c.fileLength);
    const std::string path = write("image.sfc", bytes);
    RomImage image;
    bool ok = false;
    EXPECT_EQ(load(path, false, image, ok), "") << c.what;
    ASSERT_TRUE(ok) << c.what;
    const std::uint32_t skipped = c.copierHeader ? 512 : 0;
    EXPECT_EQ(image.hadCopierHeader, c.copierHeader) << c.what;
    EXPECT_EQ(image.size, c.fileLength - skipped) << c.what;
    EXPECT_EQ(image.cursor, 0u) << c.what;
    EXPECT_EQ(image.mirrored, 0) << c.what;
    ASSERT_EQ(image.data.size(), image.size) << c.what;
    EXPECT_TRUE(std::equal(image.data.begin(), image.data.end(), bytes.begin() + skipped))
        << c.what;
  }
}

TEST_F(RomFile, RefusesMoreThan4MBOfData) {
  for (std::uint32_t length : {4 * kMB + kKB, 4 * kMB + kKB + 512}) {
    const std::string path = write("big.sfc", std::vector<std::uint8_t>(length, 0xAB));
    RomImage image = sentinelImage();
    bool ok = true;
    EXPECT_EQ(load(path, false, image, ok), "ERROR: Files larger then 4MB are not supported\n")
        << length;
    EXPECT_FALSE(ok) << length;
    expectSentinel(image, std::to_string(length));
    // Mirroring does not make room for more.
    EXPECT_EQ(load(path, true, image, ok), "ERROR: Files larger then 4MB are not supported\n");
    EXPECT_FALSE(ok);
    expectSentinel(image, std::to_string(length) + " mirrored");
  }
}

TEST_F(RomFile, UnreadablePathsAreNotOpened) {
  const std::string missing = (dir_ / "missing.sfc").string();
  const std::string directory = dir_.string();
  for (const std::string& path : {missing, directory}) {
    RomImage image = sentinelImage();
    bool ok = true;
    EXPECT_EQ(load(path, false, image, ok), "ERROR: Could not open " + path + "\n");
    EXPECT_FALSE(ok) << path;
    expectSentinel(image, path);
  }
}

void putHeader(std::vector<std::uint8_t>& bytes, std::uint32_t offset, std::uint8_t mapMode,
               std::uint8_t saveRamSize, char lastTitleByte) {
  std::uint8_t* a = bytes.data() + offset;
  std::memset(a, 0, kHeaderAreaSize);
  std::memcpy(a, "01AWXE", 6);
  std::memcpy(a + 0x10, "A GAME TITLE         ", 21);
  a[0x24] = static_cast<std::uint8_t>(lastTitleByte);
  a[0x25] = mapMode;
  a[0x26] = 0x02;
  a[0x27] = 0x0A;
  a[0x28] = saveRamSize;
  a[0x2A] = 0x33;
  a[0x2C] = 0xCB, a[0x2D] = 0xED, a[0x2E] = 0x34, a[0x2F] = 0x12;
  a[0x4C] = 0x00, a[0x4D] = 0x80;
}

TEST_F(RomFile, ClassifiesTheLoadedImageWithItsLoadedSize) {
  // LoROM place: 12 in a 1 MB image. HiROM place: map mode 0x21 and a title
  // not ending in a space, 9. Mirrored to 4 MB, L drops to 10 and H rises to 13.
  auto bytes = patternOf(kMB);
  putHeader(bytes, kLoRomHeaderArea, 0x20, 0x03, ' ');
  putHeader(bytes, kHiRomHeaderArea, 0x21, 0x01, 'X');
  ASSERT_EQ(scoreLoRomHeader(bytes.data(), kMB), 12);
  ASSERT_EQ(scoreHiRomHeader(bytes.data(), kMB), 9);
  const std::string path = write("game.sfc", bytes);

  RomImage plain;
  bool ok = false;
  EXPECT_EQ(load(path, false, plain, ok), "");
  ASSERT_TRUE(ok);
  EXPECT_EQ(plain.isHiRom, 0);
  EXPECT_EQ(plain.sramKb, 8);

  RomImage mirrored;
  EXPECT_EQ(load(path, true, mirrored, ok), "");
  ASSERT_TRUE(ok);
  EXPECT_EQ(mirrored.mirrored, 1);
  EXPECT_EQ(mirrored.size, 4 * kMB);
  ASSERT_EQ(mirrored.data.size(), 4 * kMB);
  for (std::uint32_t copy = 0; copy < 4; ++copy) {
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), mirrored.data.begin() + copy * kMB))
        << "copy " << copy;
  }
  EXPECT_EQ(mirrored.isHiRom, 1);
  EXPECT_EQ(mirrored.sramKb, 2);

  // A file too short for either header place: LoROM without save RAM.
  RomImage tiny;
  EXPECT_EQ(load(write("tiny.sfc", patternOf(0x7FFF)), false, tiny, ok), "");
  ASSERT_TRUE(ok);
  EXPECT_EQ(tiny.isHiRom, 0);
  EXPECT_EQ(tiny.sramKb, 0);
}

TEST_F(RomFile, MirroredLoadsOfShortAndOddFiles) {
  // An empty file mirrored is 4 MB of blank bytes; a copier-headed odd file
  // is mirrored from its data alone.
  RomImage empty;
  bool ok = false;
  EXPECT_EQ(load(write("empty.sfc", {}), true, empty, ok), "");
  ASSERT_TRUE(ok);
  EXPECT_EQ(empty.size, 4 * kMB);
  EXPECT_EQ(empty.data, std::vector<std::uint8_t>(4 * kMB, kBlankByte));

  const auto bytes = patternOf(512 + 0x8000 + 100);
  RomImage odd;
  EXPECT_EQ(load(write("odd.sfc", bytes), true, odd, ok), "");
  ASSERT_TRUE(ok);
  EXPECT_EQ(odd.hadCopierHeader, 1);
  ASSERT_EQ(odd.data.size(), 4 * kMB);
  EXPECT_TRUE(std::equal(bytes.begin() + 512, bytes.end(), odd.data.begin()));
  EXPECT_EQ(odd.data[2 * kMB + 100 - 1], odd.data[2 * kMB + 100 - 1 - kMB]);
  EXPECT_EQ(odd.data[2 * kMB + 100], kBlankByte);
  EXPECT_EQ(odd.data.back(), kBlankByte);
}

struct Piece {
  std::uint32_t from;  // offset in the image built so far
  std::uint32_t length;
};

TEST(MirrorImage, RepeatsByTheBitsOfTheLength) {
  const struct {
    const char* what;
    std::uint32_t n;
    std::vector<Piece> appended;  // after the n data bytes, in order
  } cases[] = {
      {"1 MB: four copies", kMB, {{0, kMB}, {0, 2 * kMB}}},
      {"1.5 MB", 3 * kMB / 2, {{kMB, kMB / 2}, {0, 2 * kMB}}},
      {"2.5 MB", 5 * kMB / 2, {{2 * kMB, kMB / 2}, {2 * kMB, kMB}}},
      {"3 MB", 3 * kMB, {{2 * kMB, kMB}}},
      {"32 KB: 128 copies",
       0x8000,
       {{0, 0x8000},
        {0, 0x10000},
        {0, 0x20000},
        {0, 0x40000},
        {0, 0x80000},
        {0, kMB},
        {0, 2 * kMB}}},
      {"4 MB: unchanged", 4 * kMB, {}},
      {"32 KB + 100: stops at 2 MB + 100",
       0x8000 + 100,
       {{100, 0x8000}, {100, 0x10000}, {100, 0x20000}, {100, 0x40000}, {100, 0x80000}, {100, kMB}}},
      {"1 MB + 100: stops at 2 MB + 100", kMB + 100, {{100, kMB}}},
      {"100 bytes: nothing below 32 KB is repeated", 100, {}},
      {"nothing read", 0, {}},
  };
  for (const auto& c : cases) {
    const auto source = patternOf(4 * kMB, c.n);
    RomImage image;
    image.data = source;  // bytes past n are stale: none may survive
    image.size = 4 * kMB;
    mirrorImage(image, c.n);

    std::vector<std::uint8_t> expected(source.begin(), source.begin() + c.n);
    for (const Piece& p : c.appended) {
      ASSERT_LE(p.from + p.length, expected.size()) << c.what;
      expected.insert(expected.end(), expected.begin() + p.from,
                      expected.begin() + p.from + p.length);
    }
    expected.resize(4 * kMB, kBlankByte);
    ASSERT_EQ(image.data.size(), 4 * kMB) << c.what;
    EXPECT_TRUE(image.data == expected) << c.what;
  }
}

TEST(MirrorImage, ExtendsAShortBufferTo4MB) {
  RomImage image;
  image.data = patternOf(0x8000);
  mirrorImage(image, 0x8000);
  ASSERT_EQ(image.data.size(), 4 * kMB);
  for (std::uint32_t at = 0; at < 4 * kMB; at += 0x8000) {
    EXPECT_TRUE(
        std::equal(image.data.begin(), image.data.begin() + 0x8000, image.data.begin() + at))
        << at;
  }
}

RomImage imageOf(std::vector<std::uint8_t> bytes) {
  RomImage image;
  image.size = static_cast<std::uint32_t>(bytes.size());
  image.data = std::move(bytes);
  return image;
}

TEST(HandOut, LastShortChunkKeepsThePreviousChunksTail) {
  // 1 MB + 16 KB: 32 whole chunks, then 16 KB of image and 16 KB of chunk 31.
  const std::uint32_t size = 1064960;
  RomImage image = imageOf(patternOf(size));
  image.cursor = 12345;  // left over from an earlier consumer
  startHandOut(image);
  EXPECT_EQ(image.cursor, 0u);
  ASSERT_EQ(chunkCount(image), 33u);

  std::vector<std::uint8_t> chunk(kImageChunkSize, kBlankByte);
  for (std::uint32_t k = 0; k < 32; ++k) {
    takeChunk(image, chunk.data());
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), image.data.begin() + k * kImageChunkSize))
        << "chunk " << k;
  }
  takeChunk(image, chunk.data());
  EXPECT_EQ(image.cursor, size);
  const std::uint32_t half = kImageChunkSize / 2;
  EXPECT_TRUE(
      std::equal(chunk.begin(), chunk.begin() + half, image.data.begin() + 32 * kImageChunkSize));
  EXPECT_TRUE(std::equal(chunk.begin() + half, chunk.end(),
                         image.data.begin() + 31 * kImageChunkSize + half));

  // Past the end nothing more is copied.
  const auto last = chunk;
  takeChunk(image, chunk.data());
  EXPECT_EQ(chunk, last);
  EXPECT_EQ(image.cursor, size);

  // The next operation starts over.
  startHandOut(image);
  takeChunk(image, chunk.data());
  EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), image.data.begin()));
}

TEST(HandOut, ShortAndEmptyImages) {
  RomImage small = imageOf(patternOf(100));
  std::vector<std::uint8_t> chunk(kImageChunkSize, kBlankByte);
  startHandOut(small);
  takeChunk(small, chunk.data());
  EXPECT_EQ(small.cursor, 100u);
  EXPECT_TRUE(std::equal(small.data.begin(), small.data.end(), chunk.begin()));
  EXPECT_TRUE(std::all_of(chunk.begin() + 100, chunk.end(),
                          [](std::uint8_t b) { return b == kBlankByte; }));

  RomImage empty;
  std::vector<std::uint8_t> untouched(kImageChunkSize, 0x5A);
  startHandOut(empty);
  takeChunk(empty, untouched.data());
  EXPECT_EQ(empty.cursor, 0u);
  EXPECT_EQ(untouched, std::vector<std::uint8_t>(kImageChunkSize, 0x5A));
}

TEST(HandOut, ChunkCountCoversEveryByte) {
  const struct {
    std::uint32_t size;
    std::uint32_t chunks;
  } cases[] = {
      {0, 1},      {1, 1},    {1024, 1},       {0x8000, 1},   {0x8001, 2},        {0x8100, 2},
      {0x8400, 2}, {kMB, 32}, {kMB + 100, 33}, {1064960, 33}, {4 * kMB - 1, 128}, {4 * kMB, 128},
  };
  for (const auto& c : cases) {
    RomImage image;
    image.size = c.size;
    EXPECT_EQ(chunkCount(image), c.chunks) << c.size;
  }
}

}  // namespace
}  // namespace romwright
