#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "portal/store.h"

std::unique_ptr<TScoreStore> OpenSqliteStore(const std::string& path, const TStoreOptions& options);
std::unique_ptr<TScoreStore> OpenPostgresStore(const std::string& conninfo, const TStoreOptions& options);

// The schema's history, oldest first: migration i brings version i-1 to i.
// A database from before the version table (version 0) already has the
// tables of migration 1, which therefore only creates what is missing.
struct TMigration {
  int Version;
  std::vector<std::string> Statements;
};
// dialect: "sqlite" or "postgresql" (column types differ).
const std::vector<TMigration>& ScoreMigrations(const std::string& dialect);
std::string NewerSchemaMessage(int found);

// A fixed set of connections, each used by one thread at a time. A request
// that finds none free within the timeout fails instead of queueing without
// end behind a stalled database.
template <class TConn>
class TConnectionPool {
public:
  explicit TConnectionPool(int size) {
    for (int i = 0; i < size; i++) {
      all_.push_back(std::make_unique<TConn>());
      free_.push_back(all_.back().get());
    }
  }

  class TLease {
  public:
    TLease(TConnectionPool* pool, TConn* conn) : pool_(pool), conn_(conn) {}
    TLease(TLease&& o) noexcept : pool_(o.pool_), conn_(o.conn_) { o.conn_ = nullptr; }
    TLease(const TLease&) = delete;
    TLease& operator=(const TLease&) = delete;
    TLease& operator=(TLease&&) = delete;
    ~TLease() {
      if (conn_) pool_->Release(conn_);
    }
    explicit operator bool() const { return conn_ != nullptr; }
    TConn& operator*() const { return *conn_; }
    TConn* operator->() const { return conn_; }

  private:
    TConnectionPool* pool_;
    TConn* conn_;
  };

  // An empty lease when none came free within timeoutMs.
  TLease Acquire(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!freed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !free_.empty(); }))
      return TLease(this, nullptr);
    TConn* c = free_.back();
    free_.pop_back();
    return TLease(this, c);
  }

  int Size() const { return static_cast<int>(all_.size()); }

private:
  void Release(TConn* c) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      free_.push_back(c);
    }
    freed_.notify_one();
  }

  std::vector<std::unique_ptr<TConn>> all_;
  std::mutex mutex_;
  std::condition_variable freed_;
  std::vector<TConn*> free_;
};
