// The native messaging host manifests, which tell a browser which program
// answers the extension's messages and which extension may start it.
#pragma once

#include <string>
#include <vector>

namespace peloria {

// The host's name, the Firefox add-on's ID and the Chromium extension's ID
// (fixed by the public key in the extension's manifest).
inline constexpr char kHostName[] = PELORIA_HOST_NAME;
inline constexpr char kGeckoId[] = PELORIA_GECKO_ID;
inline constexpr char kChromiumId[] = PELORIA_CHROMIUM_ID;

enum class TManifestKind { kFirefox, kChromium };

// The manifest of the host program `hostPath` for one kind of browser.
std::string HostManifest(TManifestKind kind, const std::string& hostPath);

struct TManifestFile {
  std::string path;
  TManifestKind kind;
};

// Where the browsers look for a user's own manifests under `home`: Firefox,
// Chromium and Google Chrome.
std::vector<TManifestFile> UserManifestFiles(const std::string& home);

// Writes the user's manifests for `hostPath` (making their folders); answers
// the files written, failing with EFCreateError for one that cannot be.
std::vector<std::string> RegisterHost(const std::string& home, const std::string& hostPath);

}  // namespace peloria
