// Key generations in progress. A new key's container and its PendingRequest
// record are written one after the other, so a process killed (or a disk
// filled) in between would leave a container no record names, or an empty
// one. Each generation therefore marks its record key as in progress before
// the container is made, holds a named mutex of the container's name while
// it works, and removes the mark once the record is complete. A mark whose
// mutex nobody holds any more belongs to a generation that never finished:
// the next request operation deletes its container and record.
#pragma once

#include <windows.h>

#include <string>

namespace kv::keys {

class RequestInProgress {
 public:
  RequestInProgress() = default;
  // Lets go of the mutex; a mark not committed stays for the sweep.
  ~RequestInProgress();
  RequestInProgress(const RequestInProgress&) = delete;
  RequestInProgress& operator=(const RequestInProgress&) = delete;

  // Takes the mutex of `container` and creates its record key under `base`,
  // marked. False with the platform error in *error; ERROR_ALREADY_EXISTS
  // when a record of that name exists already (it is left alone).
  bool Begin(const std::string& base, const std::string& container, DWORD* error);
  // The record is complete: removes the mark. False with the registry's
  // status when the mark cannot be removed.
  bool Commit(DWORD* error);
  // The generation failed: deletes the container (when `containerMade`)
  // and the record. What cannot be deleted now keeps its mark and is swept
  // later.
  void Abandon(bool containerMade, const std::string& provider, DWORD providerType);

 private:
  HANDLE m_mutex = nullptr;
  std::string m_base;
  std::string m_container;
  bool m_begun = false;
};

// Deletes the containers and records of generations under `base` that were
// marked in progress and whose process is gone; returns how many. Keys are
// deleted in `provider` of `providerType`.
int SweepAbandonedRequests(const std::string& base, const std::string& provider, DWORD providerType);

}  // namespace kv::keys
