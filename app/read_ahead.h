// Photos read ahead on a thread of their own: while the window shows one
// picture of a folder, its neighbours are loaded, copied and summed up, so
// that a step to one of them only has to show it. At most the photos asked
// for are held; one the user has stepped past is dropped, and nobody waits
// for it.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/photo.h"
#include "app/startup.h"

namespace peloria {

class TReadAhead {
 public:
  // Reads local addresses with `startup`'s settings (it must outlive this).
  explicit TReadAhead(const TStartup& startup);
  // Ends the thread once the photo it is making, if any, is made.
  ~TReadAhead();
  TReadAhead(const TReadAhead&) = delete;
  TReadAhead& operator=(const TReadAhead&) = delete;

  // The addresses (local files, as given) whose photos to hold, made in this
  // order when missing; those of `have` (photos made elsewhere, such as the
  // one the window showed before) are held as they are when wanted. Every
  // other photo held or waiting is dropped; one being made is dropped once
  // it is made.
  void Want(std::vector<std::string> addresses, std::vector<TPhoto> have = {});
  // The photo of `address` when it is held, or when it is being made (then
  // this waits until it is); none otherwise: it is no more made here then.
  std::optional<TPhoto> Take(const std::string& address);

  // The addresses held or being made right now (for tests).
  std::vector<std::string> Held() const;
  // How many photos are held, made (for measures).
  std::size_t Ready() const;

 private:
  void Work();
  bool Wanted(const std::string& address) const;

  const TStartup& startup_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> wanted_;
  std::deque<std::string> queue_;
  std::map<std::string, TPhoto> held_;
  std::optional<std::string> making_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace peloria
