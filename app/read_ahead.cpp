#include "app/read_ahead.h"

#include <algorithm>

#include "platform/cp932.h"

namespace peloria {

TReadAhead::TReadAhead(const TStartup& startup) : startup_(startup), thread_([this] { Work(); }) {}

TReadAhead::~TReadAhead() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool TReadAhead::Wanted(const std::string& address) const {
  return std::find(wanted_.begin(), wanted_.end(), address) != wanted_.end();
}

void TReadAhead::Want(std::vector<std::string> addresses, std::vector<TPhoto> have) {
  std::vector<TPhoto> dropped;  // freed outside the lock
  {
    const std::lock_guard lock(mutex_);
    wanted_ = std::move(addresses);
    for (TPhoto& photo : have) {
      const std::string address = photo.AddressBytes();
      if (Wanted(address) && !held_.contains(address)) held_.emplace(address, std::move(photo));
    }
    for (auto it = held_.begin(); it != held_.end();) {
      if (Wanted(it->first)) {
        ++it;
      } else {
        dropped.push_back(std::move(it->second));
        it = held_.erase(it);
      }
    }
    queue_.clear();
    for (const std::string& address : wanted_) {
      if (!held_.contains(address) && making_ != address) queue_.push_back(address);
    }
  }
  changed_.notify_all();
}

std::optional<TPhoto> TReadAhead::Take(const std::string& address) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return making_ != address; });
  queue_.erase(std::remove(queue_.begin(), queue_.end(), address), queue_.end());
  const auto it = held_.find(address);
  if (it == held_.end()) return std::nullopt;
  TPhoto photo = std::move(it->second);
  held_.erase(it);
  return photo;
}

std::vector<std::string> TReadAhead::Held() const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> addresses;
  for (const auto& [address, photo] : held_) addresses.push_back(address);
  if (making_) addresses.push_back(*making_);
  return addresses;
}

std::size_t TReadAhead::Ready() const {
  const std::lock_guard lock(mutex_);
  return held_.size();
}

void TReadAhead::Work() {
  // Local files only: the connection is never used.
  TIdHTTP http;
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) return;
    const std::string address = queue_.front();
    queue_.pop_front();
    making_ = address;
    lock.unlock();
    std::optional<TPhoto> photo = startup_.Open(LocaleToCp932(address), address, http, nullptr);
    lock.lock();
    making_.reset();
    if (Wanted(address) && !held_.contains(address)) {
      held_.insert_or_assign(address, std::move(*photo));
      photo.reset();
    }
    changed_.notify_all();
    if (photo) {
      // Stepped past meanwhile: freed without holding the lock.
      lock.unlock();
      photo.reset();
      lock.lock();
    }
  }
}

}  // namespace peloria
