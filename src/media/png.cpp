#include "media/png.h"

#include <SDL.h>
#include <SDL_image.h>

#include <stdexcept>
#include <string>

namespace {
// Collects what IMG_SavePNG_RW writes, so the file is written in one checked piece.
struct MemoryOut {
  std::vector<uint8_t> Bytes;
  static size_t Write(SDL_RWops* rw, const void* p, size_t size, size_t count) {
    auto* self = static_cast<MemoryOut*>(rw->hidden.unknown.data1);
    const auto* b = static_cast<const uint8_t*>(p);
    self->Bytes.insert(self->Bytes.end(), b, b + size * count);
    return count;
  }
  static Sint64 Size(SDL_RWops* rw) {
    return static_cast<Sint64>(static_cast<MemoryOut*>(rw->hidden.unknown.data1)->Bytes.size());
  }
  static Sint64 Seek(SDL_RWops* rw, Sint64 offset, int whence) {
    // Only asking where we are (the end) is meaningful for an append-only sink.
    if (offset == 0 && (whence == RW_SEEK_CUR || whence == RW_SEEK_END)) return Size(rw);
    return SDL_SetError("a screenshot is written front to back");
  }
  static size_t Read(SDL_RWops*, void*, size_t, size_t) { return 0; }
  static int Close(SDL_RWops* rw) {
    SDL_FreeRW(rw);
    return 0;
  }
};

}  // namespace

std::vector<uint8_t> EncodePng(const uint32_t* pixels, int width, int height) {
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(pixels), width, height, 32, width * 4,
                                                      SDL_PIXELFORMAT_XRGB8888);
  if (!s) throw std::runtime_error(SDL_GetError());
  MemoryOut out;
  SDL_RWops* rw = SDL_AllocRW();
  if (!rw) {
    SDL_FreeSurface(s);
    throw std::runtime_error(SDL_GetError());
  }
  rw->type = SDL_RWOPS_UNKNOWN;
  rw->hidden.unknown.data1 = &out;
  rw->write = &MemoryOut::Write;
  rw->read = &MemoryOut::Read;
  rw->size = &MemoryOut::Size;
  rw->seek = &MemoryOut::Seek;
  rw->close = &MemoryOut::Close;
  const bool ok = IMG_SavePNG_RW(s, rw, 1) == 0;
  SDL_FreeSurface(s);
  if (!ok || out.Bytes.empty()) throw std::runtime_error(std::string("cannot encode the picture: ") + IMG_GetError());
  return std::move(out.Bytes);
}
