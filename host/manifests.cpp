#include "host/manifests.h"

#include "host/json.h"
#include "platform/files.h"
#include "platform/stream.h"

namespace peloria {

std::string HostManifest(TManifestKind kind, const std::string& hostPath) {
  const std::string allowed =
      kind == TManifestKind::kFirefox
          ? "  \"allowed_extensions\": [" + JsonQuoted(kGeckoId) + "]\n"
          : "  \"allowed_origins\": [" +
                JsonQuoted(std::string("chrome-extension://") + kChromiumId + "/") + "]\n";
  return "{\n  \"name\": " + JsonQuoted(kHostName) +
         ",\n  \"description\": \"Peloria: shows a picture's shooting data\",\n  \"path\": " +
         JsonQuoted(hostPath) + ",\n  \"type\": \"stdio\",\n" + allowed + "}\n";
}

std::vector<TManifestFile> UserManifestFiles(const std::string& home) {
  const std::string file = std::string("/") + kHostName + ".json";
  return {
      {home + "/.mozilla/native-messaging-hosts" + file, TManifestKind::kFirefox},
      {home + "/.config/chromium/NativeMessagingHosts" + file, TManifestKind::kChromium},
      {home + "/.config/google-chrome/NativeMessagingHosts" + file, TManifestKind::kChromium},
  };
}

std::vector<std::string> RegisterHost(const std::string& home, const std::string& hostPath) {
  std::vector<std::string> written;
  for (const TManifestFile& file : UserManifestFiles(home)) {
    MakeFolders(file.path.substr(0, file.path.rfind('/')));
    const std::string text = HostManifest(file.kind, hostPath);
    TFileStream out(file.path, TFileStream::Mode::kCreateExclusive);
    out.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
    written.push_back(file.path);
  }
  return written;
}

}  // namespace peloria
