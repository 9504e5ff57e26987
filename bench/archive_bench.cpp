// Loading an image archive of 40 pictures of 256x256 (24 bits), next to
// merely reading the same bytes from a file, and the frame set-up after it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "media/image_list.h"
#include "media/object_stream.h"

namespace {

const std::vector<uint8_t>& Archive() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<TPictureArchiveItem> items;
    std::vector<uint32_t> px(256 * 256);
    for (int i = 0; i < 40; ++i) {
      for (size_t k = 0; k < px.size(); ++k) px[k] = static_cast<uint32_t>((k * 2654435761u) ^ i) & 0xFFFFFF;
      TPictureArchiveItem it;
      it.Name = "Picture" + std::to_string(i);
      it.PatternWidth = 64;
      it.PatternHeight = 64;
      it.TransparentColor = 0xFF00FF;
      it.PictureData = MakeDibPayload(256, 256, px.data(), 24);
      items.push_back(std::move(it));
    }
    return WritePictureArchive(items);
  }();
  return bytes;
}

const std::string& ArchiveFile() {
  static const std::string path = [] {
    const std::string p = std::string(QV_BUILD_DIR) + "archive_bench.dxg";
    FILE* f = std::fopen(p.c_str(), "wb");
    if (f) {
      std::fwrite(Archive().data(), 1, Archive().size(), f);
      std::fclose(f);
    }
    return p;
  }();
  return path;
}

void BM_ReadArchiveBytesFromFile(benchmark::State& state) {
  const std::string& path = ArchiveFile();
  for (auto _ : state) {
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Archive().size()));
}
BENCHMARK(BM_ReadArchiveBytesFromFile)->Unit(benchmark::kMillisecond);

// Reading the same bytes the way a picture load reads them now, without
// stdio's chunk copy: a stricter reference, shown beside the goal's.
void BM_ReadArchiveBufferFromFile(benchmark::State& state) {
  const std::string& path = ArchiveFile();
  for (auto _ : state) {
    const TFileBuffer file = ReadFileBuffer(path);
    benchmark::DoNotOptimize(file.Data.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Archive().size()));
}
BENCHMARK(BM_ReadArchiveBufferFromFile)->Unit(benchmark::kMillisecond);

void BM_LoadArchiveFromFile(benchmark::State& state) {
  const std::string& path = ArchiveFile();
  TDXImageList list;
  for (auto _ : state) {
    list.LoadFromFile(path);
    benchmark::DoNotOptimize(list.Items.Count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Archive().size()));
}
BENCHMARK(BM_LoadArchiveFromFile)->Unit(benchmark::kMillisecond);

void BM_LoadArchiveFromMemory(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = Archive();
  TPictureCollection items;
  for (auto _ : state) {
    items.LoadFromBytes(bytes.data(), bytes.size());
    benchmark::DoNotOptimize(items.Count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_LoadArchiveFromMemory)->Unit(benchmark::kMillisecond);

void BM_FindByName(benchmark::State& state) {
  TPictureCollection items;
  items.LoadFromBytes(Archive().data(), Archive().size());
  int i = 0;
  const std::string names[] = {"picture7", "PICTURE23", "Picture39", "picture0"};
  for (auto _ : state) benchmark::DoNotOptimize(&items.Find(names[i++ & 3]));
}
BENCHMARK(BM_FindByName);

}  // namespace
