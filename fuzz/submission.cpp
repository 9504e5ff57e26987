// The submission decoder the portal runs on the game's "inf" parameter:
// whatever decodes encodes back to the same letters, and a text that splits
// into fields is built back from them unchanged when they are fields the
// game could have sent.
#include <cstddef>
#include <cstdint>
#include <string>

#include "submission/submission.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string inf(reinterpret_cast<const char*>(data), size);
  std::string text;
  if (InfDecoding(inf, text) && InfEncoding(text) != inf) __builtin_trap();
  // The bytes themselves as a submission text, and as a token reply.
  TSubmission s;
  std::string why;
  if (ParseSubmissionText(inf, s, why)) {
    const std::string digits = s.Score;
    bool number = !digits.empty() && digits.size() <= 9 &&
                  digits.find_first_not_of("0123456789") == std::string::npos &&
                  (digits.size() == 1 || digits[0] != '0');
    // The game cuts names to 12 characters before it builds the text.
    if (number && s.Key == kSubmissionKey && s.Name.size() <= 12 &&
        BuildSubmissionText(s.Name, static_cast<uint32_t>(std::stoul(digits)), s.Token, s.Add) != inf)
      __builtin_trap();
  }
  ServerTokenOf(inf);
  return 0;
}
