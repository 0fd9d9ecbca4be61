#include "tests/e2e/browsers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <stdexcept>

#include "tests/e2e/installation.h"
#include "tests/support/peers.h"
#include "tests/support/wait.h"

namespace peloria::e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr auto kStartTimeout = 60s;
constexpr auto kCallTimeout = 30s;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what);
}

// A descriptor moved above the ones the child gets (3 and 4), close-on-exec.
int High(int fd) {
  const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
  ::close(fd);
  if (high < 0) Fail("fcntl");
  return high;
}

// Waits until `fd` can be read, at most until `deadline`.
bool Readable(int fd, Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return false;
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(left.count())) > 0;
}

void WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) Fail("write to the browser");
    done += static_cast<std::size_t>(n);
  }
}

// The expression that waits in a page until it and all its pictures have
// loaded (blob: pictures are set by a script after the load).
constexpr char kPageLoaded[] =
    "document.readyState === 'complete' && Array.from(document.images).every("
    "(i) => i.complete && i.naturalWidth > 0)";

// ------------------------------------------------------------------ Chromium

class Chromium final : public Browser {
 public:
  Chromium(const std::string& chromium, const fs::path& extension, const fs::path& userData,
           std::vector<std::string> env, const fs::path& logFile) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) Fail("pipe");
    // The browser reads commands on 3 and writes on 4.
    const int childIn = High(in[0]);
    toBrowser_ = High(in[1]);
    fromBrowser_ = High(out[0]);
    const int childOut = High(out[1]);
    Command command;
    command.argv = {chromium, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                    "--no-default-browser-check", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync", "--disable-quic",
                    // Nothing but loopback: no name resolves but localhost.
                    "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1, EXCLUDE localhost",
                    "--remote-debugging-pipe", "--user-data-dir=" + userData.string(),
                    "--load-extension=" + extension.string(),
                    "--disable-extensions-except=" + extension.string(), "about:blank"};
    command.env = std::move(env);
    command.passFd = childIn;
    command.passFd4 = childOut;
    process_ = std::make_unique<Process>(command, logFile);
    ::close(childIn);
    ::close(childOut);

    // The page and the extension's service worker, once both are there.
    std::string page, worker;
    const bool found = testing::WaitUntil(
        [&] {
          const TJsonValue targets = Call("Target.getTargets", "{}");
          for (const TJsonValue& target : targets.Member("targetInfos")->items) {
            const std::string type = target.Member("type")->text;
            const std::string url = target.Member("url")->text;
            if (type == "page" && page.empty()) page = target.Member("targetId")->text;
            if (type == "service_worker" && url.starts_with("chrome-extension://")) {
              worker = target.Member("targetId")->text;
            }
          }
          return !page.empty() && !worker.empty();
        },
        kStartTimeout, 200ms);
    if (!found) Fail("chromium showed no page or no extension");
    pageSession_ = Attach(page);
    workerSession_ = Attach(worker);
  }

  ~Chromium() override {
    ::close(toBrowser_);
    ::close(fromBrowser_);
  }

  void Open(const std::string& url) override {
    Call("Page.navigate", "{\"url\": " + JsonQuoted(url) + "}", pageSession_);
    const bool loaded = testing::WaitUntil(
        [&] { return Evaluate(kPageLoaded, pageSession_) == "true"; }, kCallTimeout, 50ms);
    if (!loaded) Fail("chromium did not load " + url);
  }

  std::string Evaluate(const std::string& expression) override {
    return Evaluate(expression, pageSession_);
  }

  std::string OpenInPeloria(const std::string& pageUrl, const ClickInfo& info) override {
    return Evaluate(
        "(async () => { const [tab] = await chrome.tabs.query({url: " + JsonQuoted(pageUrl) +
            "}); return JSON.stringify(await openInPeloria(" + info.Json() + ", tab)); })()",
        workerSession_);
  }

 private:
  std::string Attach(const std::string& target) {
    return Call("Target.attachToTarget",
                "{\"targetId\": " + JsonQuoted(target) + ", \"flatten\": true}")
        .Member("sessionId")
        ->text;
  }

  // The value of `expression` (awaited when it is a promise) as text: a
  // string as it is, anything else as its JSON description.
  std::string Evaluate(const std::string& expression, const std::string& session) {
    const TJsonValue result = Call("Runtime.evaluate",
                                   "{\"expression\": " + JsonQuoted(expression) +
                                       ", \"awaitPromise\": true, \"returnByValue\": true}",
                                   session);
    const TJsonValue* value = result.Member("result")->Member("value");
    if (value == nullptr) return "";
    if (value->kind == TJsonValue::Kind::kTrue) return "true";
    if (value->kind == TJsonValue::Kind::kFalse) return "false";
    return value->text;
  }

  // Sends one command and answers its result, passing over the events that
  // come before the reply.
  TJsonValue Call(const std::string& method, const std::string& params,
                  const std::string& session = {}) {
    const int id = ++lastId_;
    std::string message = "{\"id\": " + std::to_string(id) + ", \"method\": " + JsonQuoted(method) +
                          ", \"params\": " + params;
    if (!session.empty()) message += ", \"sessionId\": " + JsonQuoted(session);
    WriteAll(toBrowser_, message + "}" + std::string(1, '\0'));
    const auto deadline = Clock::now() + kCallTimeout;
    for (;;) {
      std::size_t end;
      while ((end = buffer_.find('\0')) == std::string::npos) {
        char chunk[65536];
        if (!Readable(fromBrowser_, deadline)) Fail("chromium did not answer " + method);
        const ssize_t n = ::read(fromBrowser_, chunk, sizeof chunk);
        if (n <= 0) Fail("chromium closed its pipe during " + method);
        buffer_.append(chunk, static_cast<std::size_t>(n));
      }
      const std::string text = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      TJsonValue reply;
      try {
        reply = ParseJson(text);
      } catch (const EJsonError& failure) {
        Fail("chromium sent no JSON (" + failure.Message() + "): " + text.substr(0, 200));
      }
      const TJsonValue* replyId = reply.Member("id");
      if (replyId == nullptr || replyId->text != std::to_string(id)) continue;
      if (const TJsonValue* error = reply.Member("error")) {
        Fail(method + ": " + error->Member("message")->text);
      }
      return *reply.Member("result");
    }
  }

  std::unique_ptr<Process> process_;
  int toBrowser_ = -1, fromBrowser_ = -1;
  int lastId_ = 0;
  std::string buffer_;
  std::string pageSession_, workerSession_;
};

// ------------------------------------------------------------------- Firefox

// The chrome-context script that calls openInPeloria in the extension's
// background page (the extension runs in the parent process, so the page's
// window is reachable) and resolves with the JSON text of its answer.
constexpr char kFirefoxCall[] = R"(
const [id, pageUrl, info, resolve] = arguments;
const policy = WebExtensionPolicy.getByID(id);
let win = null;
for (const view of policy ? policy.extension.views : []) {
  if (view.viewType === "background") win = view.xulBrowser && view.xulBrowser.contentWindow;
}
if (!win) return resolve("no background page");
const bg = win.wrappedJSObject;
const done = Cu.exportFunction((r) => resolve(JSON.stringify(r)), win);
const failed = Cu.exportFunction((e) => resolve("failed: " + e), win);
// Firefox's match patterns hold no port, so the tab is found by its address.
bg.browser.tabs.query(Cu.cloneInto({}, win))
  .then(Cu.exportFunction((tabs) => {
    const tab = Array.from(tabs).find((t) => t.url === pageUrl);
    return tab ? bg.openInPeloria(Cu.cloneInto(info, win), tab) : "no tab shows " + pageUrl;
  }, win))
  .then(done, failed);
)";

constexpr char kFirefoxGrant[] = R"(
const [id, resolve] = arguments;
const { ExtensionPermissions } =
  ChromeUtils.importESModule("resource://gre/modules/ExtensionPermissions.sys.mjs");
const policy = WebExtensionPolicy.getByID(id);
ExtensionPermissions.add(id, { permissions: [], origins: ["<all_urls>"] }, policy.extension)
  .then(() => resolve(true), (e) => resolve(String(e)));
)";

constexpr char kFirefoxWaitLoaded[] = R"(
const resolve = arguments[arguments.length - 1];
const poll = () => %s ? resolve(true) : setTimeout(poll, 50);
poll();
)";

class Firefox final : public Browser {
 public:
  Firefox(const std::string& firefox, const fs::path& extension, const fs::path& profile,
          std::vector<std::string> env, const fs::path& logFile) {
    fs::create_directories(profile / "extensions");
    // The add-on file: a zip of the extension's folder, named by its ID.
    Command zip;
    zip.argv = {testing::FindProgram("zip"),
                "-qr",
                (profile / "extensions" / (std::string(PELORIA_GECKO_ID) + ".xpi")).string(),
                "manifest.json",
                "background.js",
                "_locales",
                "icons"};
    zip.env = {"PATH=/usr/bin:/bin"};
    zip.cwd = extension;
    if (zip.argv[0].empty() || RunToEnd(zip, 30s).exitCode != 0) Fail("zip failed");
    // Unsigned add-ons in the profile are enabled at once; extensions run in
    // the parent process, where Marionette's chrome context reaches them;
    // Marionette picks a free port and names it in MarionetteActivePort.
    // Everything but 127.0.0.1 and localhost goes to a proxy on the discard
    // port, which refuses, so no update or service request leaves the machine.
    std::ofstream(profile / "user.js") << R"(user_pref("xpinstall.signatures.required", false);
user_pref("extensions.autoDisableScopes", 0);
user_pref("extensions.enabledScopes", 15);
user_pref("extensions.webextensions.remote", false);
user_pref("marionette.port", 0);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.disabledForTesting", true);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("network.trr.mode", 5);
user_pref("browser.safebrowsing.update.enabled", false);
user_pref("extensions.update.enabled", false);
user_pref("dom.push.connection.enabled", false);
user_pref("network.dns.disablePrefetch", true);
user_pref("network.proxy.type", 1);
user_pref("network.proxy.http", "127.0.0.1");
user_pref("network.proxy.http_port", 9);
user_pref("network.proxy.ssl", "127.0.0.1");
user_pref("network.proxy.ssl_port", 9);
user_pref("network.proxy.no_proxies_on", "localhost, 127.0.0.1");
)";
    Command command;
    command.argv = {firefox,      "--headless", "-marionette",    "--remote-allow-system-access",
                    "-no-remote", "-profile",   profile.string(), "about:blank"};
    command.env = std::move(env);
    process_ = std::make_unique<Process>(command, logFile);

    const fs::path portFile = profile / "MarionetteActivePort";
    if (!testing::WaitUntil([&] { return !ReadFile(portFile).value_or("").empty(); }, kStartTimeout,
                            100ms)) {
      Fail("firefox started no Marionette");
    }
    const int port = std::stoi(*ReadFile(portFile));
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      Fail("cannot reach Marionette");
    }
    ReadMessage(Clock::now() + kCallTimeout);  // the greeting
    Call("WebDriver:NewSession", "{\"capabilities\": {}}");
    // The background page is up once the extension has started.
    if (!testing::WaitUntil(
            [&] {
              SetContext("chrome");
              const std::string value =
                  Call("WebDriver:ExecuteScript",
                       "{\"script\": " +
                           JsonQuoted("const p = WebExtensionPolicy.getByID(arguments[0]);"
                                      "return !!p && [...p.extension.views].some("
                                      "(v) => v.viewType === 'background');") +
                           ", \"args\": [" + JsonQuoted(PELORIA_GECKO_ID) + "]}")
                              .Member("value")
                              ->kind == TJsonValue::Kind::kTrue
                      ? "yes"
                      : "";
              return !value.empty();
            },
            kStartTimeout, 200ms)) {
      Fail("firefox did not start the extension");
    }
    // Firefox asks the user before an extension may read pages ("<all_urls>"
    // is optional there); the test gives the answer a user gives.
    Call("WebDriver:ExecuteAsyncScript", "{\"script\": " + JsonQuoted(kFirefoxGrant) +
                                             ", \"args\": [" + JsonQuoted(PELORIA_GECKO_ID) +
                                             "], \"scriptTimeout\": 30000}");
  }

  ~Firefox() override {
    if (socket_ >= 0) ::close(socket_);
  }

  void Open(const std::string& url) override {
    SetContext("content");
    Call("WebDriver:Navigate", "{\"url\": " + JsonQuoted(url) + "}");
    std::string wait = kFirefoxWaitLoaded;
    wait.replace(wait.find("%s"), 2, kPageLoaded);
    Call("WebDriver:ExecuteAsyncScript",
         "{\"script\": " + JsonQuoted(wait) + ", \"args\": [], \"scriptTimeout\": 30000}");
  }

  std::string Evaluate(const std::string& expression) override {
    SetContext("content");
    return Call("WebDriver:ExecuteScript",
                "{\"script\": " + JsonQuoted("return String(" + expression + ");") +
                    ", \"args\": []}")
        .Member("value")
        ->text;
  }

  std::string OpenInPeloria(const std::string& pageUrl, const ClickInfo& info) override {
    SetContext("chrome");
    const TJsonValue result = Call("WebDriver:ExecuteAsyncScript",
                                   "{\"script\": " + JsonQuoted(kFirefoxCall) + ", \"args\": [" +
                                       JsonQuoted(PELORIA_GECKO_ID) + ", " + JsonQuoted(pageUrl) +
                                       ", " + info.Json() + "], \"scriptTimeout\": 30000}");
    return result.Member("value")->text;
  }

 private:
  void SetContext(const std::string& context) {
    Call("Marionette:SetContext", "{\"value\": " + JsonQuoted(context) + "}");
  }

  TJsonValue ReadMessage(Clock::time_point deadline) {
    for (;;) {
      const std::size_t colon = buffer_.find(':');
      if (colon != std::string::npos) {
        const std::size_t length = std::stoul(buffer_.substr(0, colon));
        if (buffer_.size() >= colon + 1 + length) {
          TJsonValue message = ParseJson(std::string_view(buffer_).substr(colon + 1, length));
          buffer_.erase(0, colon + 1 + length);
          return message;
        }
      }
      char chunk[65536];
      if (!Readable(socket_, deadline)) Fail("Marionette did not answer");
      const ssize_t n = ::recv(socket_, chunk, sizeof chunk, 0);
      if (n <= 0) Fail("Marionette closed the connection");
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // Sends [0, id, name, params] and answers the reply's result; an error
  // reply throws.
  TJsonValue Call(const std::string& name, const std::string& params) {
    const int id = ++lastId_;
    const std::string message =
        "[0, " + std::to_string(id) + ", " + JsonQuoted(name) + ", " + params + "]";
    const std::string frame = std::to_string(message.size()) + ":" + message;
    if (::send(socket_, frame.data(), frame.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(frame.size())) {
      Fail("cannot write to Marionette");
    }
    for (;;) {
      TJsonValue reply = ReadMessage(Clock::now() + kCallTimeout);
      if (reply.items.size() != 4 || reply.items[1].text != std::to_string(id)) continue;
      if (reply.items[2].kind != TJsonValue::Kind::kNull) {
        Fail(name + ": " + reply.items[2].Member("message")->text);
      }
      return reply.items[3];
    }
  }

  std::unique_ptr<Process> process_;
  int socket_ = -1;
  int lastId_ = 0;
  std::string buffer_;
};

}  // namespace

std::string ClickInfo::Json() const {
  std::string json;
  for (const auto& [name, value] : {std::pair<const char*, const std::string*>{"srcUrl", &srcUrl},
                                    {"linkUrl", &linkUrl},
                                    {"pageUrl", &pageUrl}}) {
    if (value->empty()) continue;
    json += (json.empty() ? "" : ", ") + JsonQuoted(name) + ": " + JsonQuoted(*value);
  }
  return "{" + json + "}";
}

std::unique_ptr<Browser> StartChromium(const std::string& chromium, const fs::path& extension,
                                       const fs::path& userData, std::vector<std::string> env,
                                       const fs::path& logFile) {
  return std::make_unique<Chromium>(chromium, extension, userData, std::move(env), logFile);
}

std::unique_ptr<Browser> StartFirefox(const std::string& firefox, const fs::path& extension,
                                      const fs::path& profile, std::vector<std::string> env,
                                      const fs::path& logFile) {
  return std::make_unique<Firefox>(firefox, extension, profile, std::move(env), logFile);
}

}  // namespace peloria::e2e
