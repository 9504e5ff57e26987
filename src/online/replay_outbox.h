#pragma once
// Sending the replay of a submitted score to the portal, and the outbox of
// replays that could not be sent yet. A replay goes as
//   POST BASE/api/replays?token=T   (Content-Type: application/x-quorvane-replay)
// with T the token its score was submitted with. One that fails (no
// network, portal down, 5xx) waits in the outbox with its portal and token,
// and goes again later until the portal gives a verdict.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class THttpClient;

constexpr const char* kReplayContentType = "application/x-quorvane-replay";

enum class TUploadVerdict {
  Accepted,    // 2xx
  Refused,     // 4xx but 404: the portal has decided
  NoEndpoint,  // 404: a portal without the endpoint; never sent there again
  Failed,      // network, timeout, 5xx, anything else: worth another try
};

struct TUploadResult {
  TUploadVerdict Verdict = TUploadVerdict::Failed;
  std::string Detail;  // the status or the error, for the log
};

// The token as it goes into a query: every byte but letters, digits and
// "-._~" percent-encoded.
std::string EncodeQueryValue(const std::string& value);
// One upload on the client's bounded wait.
TUploadResult UploadReplay(THttpClient& client, const std::string& portal, const std::string& token,
                           const std::vector<uint8_t>& replay);

// The note beside a waiting replay (NAME.qvr has NAME.note):
//   quorvane-outbox 1
//   portal http://HOST[:PORT][/PATH]
//   token PERCENT-ENCODED
std::string OutboxNoteText(const std::string& portal, const std::string& token);
// False for anything that is not such a note, with a portal the game would
// accept and a token of at most MaxTokenBytes.
bool ParseOutboxNote(const std::string& text, std::string& portal, std::string& token);

struct TOutboxEntry {
  std::string Name;  // the file name without extension
  std::string Portal, Token;
};

class TReplayOutbox {
public:
  // The bounds: a replay larger than the portal takes is not kept; beyond
  // MaxEntries the oldest go; an entry older than MaxAgeDays goes.
  static constexpr size_t MaxReplayBytes = 1u << 20;
  static constexpr size_t MaxEntries = 20;
  static constexpr int MaxAgeDays = 30;
  static constexpr size_t MaxTokenBytes = 256;
  static constexpr size_t MaxNoteBytes = 4096;

  // folder ends with '/': the game's replays/outbox/.
  explicit TReplayOutbox(std::string folder) : folder_(std::move(folder)) {}
  const std::string& Folder() const { return folder_; }

  // Keeps a replay that could not be sent; false (and why) when it cannot.
  bool Add(const std::string& portal, const std::string& token, const std::vector<uint8_t>& replay, std::string& why);
  // The entries waiting, oldest first; drops what is beyond the bounds,
  // notes that cannot be read and files left without their pair.
  std::vector<TOutboxEntry> Entries();
  // Sends each waiting replay once, oldest first, and removes those the
  // portal gave a verdict on. After a failure the rest for that portal wait
  // for the next time, so one dead portal costs one bounded wait. stop,
  // when set, ends the round between two uploads. Returns how many ended.
  size_t SendWaiting(THttpClient& client, const std::atomic<bool>* stop = nullptr);

private:
  void Remove(const std::string& name);
  std::string folder_;
};

// The outbox at start-up, sent on a thread of its own with a client of its
// own so the window opens at once; the destructor stops it (a wait on the
// network ends within a tenth of a second) and waits for it.
class TOutboxSender {
public:
  TOutboxSender(std::string folder, int exchangeTimeoutMs = 5000);
  ~TOutboxSender();
  TOutboxSender(const TOutboxSender&) = delete;
  TOutboxSender& operator=(const TOutboxSender&) = delete;
  // Waits for the round to end (tests).
  void Wait();

private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
