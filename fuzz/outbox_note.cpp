// The note beside a replay waiting in replays/outbox/: whatever the text, a
// note is accepted only with a portal the game would choose and a token it
// can send, and what is accepted reads back the same when written again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "online/portal_base.h"
#include "online/replay_outbox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string portal, token;
  if (!ParseOutboxNote(text, portal, token)) return 0;
  std::string base, why;
  if (!ParsePortalBase(portal, base, why) || base != portal) __builtin_trap();
  if (token.size() > TReplayOutbox::MaxTokenBytes) __builtin_trap();
  // The token goes into a query: nothing in it may break the request line.
  for (const char ch : EncodeQueryValue(token)) {
    const unsigned char b = static_cast<unsigned char>(ch);
    if (b <= 0x20 || b >= 0x7F || b == '&' || b == '#' || b == '?') __builtin_trap();
  }
  std::string portal2, token2;
  if (!ParseOutboxNote(OutboxNoteText(portal, token), portal2, token2) || portal2 != portal || token2 != token)
    __builtin_trap();
  return 0;
}
