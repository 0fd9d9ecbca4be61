// Real browsers driven by their own automation protocols, for the extension's
// end-to-end tests: Chromium through the DevTools protocol over a pipe
// (--remote-debugging-pipe: commands on its descriptor 3, events and replies
// on its descriptor 4, each message JSON ended by a zero byte), Firefox
// through Marionette (a loopback socket, each message "LENGTH:JSON").
// Both run headless with a throw-away profile and the extension loaded, and
// both answer what the extension's openInPeloria(info, tab) resolved to.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/json.h"
#include "tests/e2e/process.h"

namespace peloria::e2e {

// What a test hands openInPeloria: the context menu's click data.
struct ClickInfo {
  std::string srcUrl, linkUrl, pageUrl;
  // The click data as a JSON object (empty members left out).
  std::string Json() const;
};

class Browser {
 public:
  virtual ~Browser() = default;
  // Shows `url` in the browser's tab and waits until the page and all its
  // pictures have loaded.
  virtual void Open(const std::string& url) = 0;
  // The value of the JavaScript `expression` in the page shown, as text.
  virtual std::string Evaluate(const std::string& expression) = 0;
  // Calls openInPeloria(info, tab) in the extension's background, with the
  // tab that shows `pageUrl`; answers the JSON text of what it resolved to.
  virtual std::string OpenInPeloria(const std::string& pageUrl, const ClickInfo& info) = 0;
};

// Chromium with the unpacked extension in `extension` and the user data in
// `userData` (its NativeMessagingHosts/ holds the host manifest); `env` is
// its whole environment. Throws std::runtime_error when it does not come up.
std::unique_ptr<Browser> StartChromium(const std::string& chromium,
                                       const std::filesystem::path& extension,
                                       const std::filesystem::path& userData,
                                       std::vector<std::string> env,
                                       const std::filesystem::path& logFile);

// Firefox with the extension as an add-on file in the profile `profile`
// (made here) and `env` as its whole environment (its HOME holds the host
// manifest in .mozilla/native-messaging-hosts/).
std::unique_ptr<Browser> StartFirefox(const std::string& firefox,
                                      const std::filesystem::path& extension,
                                      const std::filesystem::path& profile,
                                      std::vector<std::string> env,
                                      const std::filesystem::path& logFile);

}  // namespace peloria::e2e
