// Protocol throughput of the virtual board: the exact traffic of a 4 MB flash
// write and of a 4 MB dump, pushed through the driver table.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "virtual_programmer/board.h"
#include "virtual_programmer/eeprom.h"
#include "virtual_programmer/flash_chip.h"

namespace vprog {
namespace {

constexpr std::uint32_t kBlock = 1024;
constexpr std::uint32_t kChunkBlocks = 32;
constexpr std::uint32_t kChunks = 128;

struct Bench {
  VirtualCart cart;
  Board board;
  platform::Driver driver{};
  platform::FtHandle handle = nullptr;

  Bench() {
    cart.kind = CartKind::Flash;
    cart.chipRow = 2;
    cart.flash.assign(kFlashSize, 0xFF);
    cart.eeprom.assign(kEepromSize, 0xFF);
    cart.sram.assign(32 * 1024, 0x00);
    attachBoard(board, cart);
    driver = boardDriver(board);
    char description[] = "USB ROMWRIGHT";
    driver.openEx(driver.state, description, platform::kOpenByDescription, &handle);
    std::uint8_t on[] = {0x50, 0x01};
    write(on, sizeof on);
  }
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  void write(std::uint8_t* bytes, std::uint32_t count) {
    platform::Dword done = 0;
    driver.write(driver.state, handle, bytes, count, &done);
  }
  void read(std::uint8_t* bytes, std::uint32_t count) {
    platform::Dword done = 0;
    driver.read(driver.state, handle, bytes, count, &done);
  }
};

std::vector<std::uint8_t> image() {
  std::vector<std::uint8_t> bytes(kFlashSize);
  for (std::uint32_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
  return bytes;
}

// 128 batches of 32 x (4-byte head, 1024 data bytes), 32 status bytes each.
void BM_FlashWrite4MB(benchmark::State& state) {
  Bench bench;
  std::vector<std::uint8_t> data = image();
  std::uint8_t sequence[] = {0x47, 0xAA, 0x8A, 0x00, 0xAA, 0x55, 0x85, 0x00, 0x55, 0xAA, 0x8A, 0x00, 0xA0};
  bench.write(sequence, sizeof sequence);
  std::uint8_t status[kChunkBlocks];
  bool allDone = true;
  for (auto _ : state) {
    state.PauseTiming();
    std::fill(bench.cart.flash.begin(), bench.cart.flash.end(), std::uint8_t{0xFF});
    state.ResumeTiming();
    for (std::uint32_t k = 0; k < kChunks; ++k) {
      for (std::uint32_t j = 0; j < kChunkBlocks; ++j) {
        const std::uint32_t address = (k << 16) | 0x8000 | (j * kBlock);
        std::uint8_t head[4] = {0x46, static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8),
                                static_cast<std::uint8_t>(address >> 16)};
        bench.write(head, sizeof head);
        bench.write(data.data() + (k * kChunkBlocks + j) * kBlock, kBlock);
      }
      bench.read(status, kChunkBlocks);
      allDone = allDone && std::all_of(status, status + kChunkBlocks, [](std::uint8_t b) { return b == 0x2E; });
    }
  }
  if (!allDone || !bench.cart.violations.empty()) state.SkipWithError("the flash write did not succeed");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kChunks * kChunkBlocks *
                          (4 + kBlock + 1));
}
BENCHMARK(BM_FlashWrite4MB)->Unit(benchmark::kMillisecond);

// 128 chunks of 32 x 4-byte read-block commands, then 32 KB read back.
void BM_Dump4MB(benchmark::State& state) {
  Bench bench;
  std::uint8_t control[] = {0x43, 0x01};
  bench.write(control, sizeof control);
  std::vector<std::uint8_t> chunk(kChunkBlocks * kBlock);
  for (auto _ : state) {
    for (std::uint32_t k = 0; k < kChunks; ++k) {
      for (std::uint32_t j = 0; j < kChunkBlocks; ++j) {
        const std::uint32_t address = (k << 16) | 0x8000 | (j * kBlock);
        std::uint8_t command[4] = {0x52, static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8),
                                   static_cast<std::uint8_t>(address >> 16)};
        bench.write(command, sizeof command);
      }
      bench.read(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
      benchmark::DoNotOptimize(chunk.data());
    }
  }
  if (!bench.cart.violations.empty()) state.SkipWithError("the dump caused violations");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kChunks * kChunkBlocks * (4 + kBlock));
}
BENCHMARK(BM_Dump4MB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vprog

BENCHMARK_MAIN();
