// peloria-host: the program a web browser starts when Peloria's extension
// hands it a picture. It reads one message from standard input, starts a
// Peloria window for it and answers on standard output, where nothing but
// that framed reply ever goes. The browsers start it with their own
// arguments (Chromium the extension's origin, Firefox the manifest's path and
// the add-on's ID), which it does not need.
//
//   peloria-host --register   writes the user's host manifests for this
//                             program (a portable installation)
#include <iostream>
#include <string>
#include <string_view>

#include "host/launch.h"
#include "host/manifests.h"
#include "host/message.h"
#include "platform/files.h"
#include "platform/process.h"

namespace {

constexpr char kHostProgram[] = "peloria-host";

int Register() {
  const std::string home = peloria::HomeFolder();
  if (home.empty()) {
    std::cerr << "peloria-host: no home folder to register in\n";
    return 2;
  }
  try {
    for (const std::string& path :
         peloria::RegisterHost(home, peloria::ProgramFolder() + kHostProgram)) {
      std::cout << path << '\n';
    }
  } catch (const peloria::Exception& failure) {
    std::cerr << "peloria-host: " << failure.Message() << '\n';
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "--register") return Register();

  std::optional<std::string> error;
  try {
    const std::string json = peloria::ReadFramedMessage(peloria::ReadStandardInput);
    const peloria::TBrowserMessage message = peloria::ParseBrowserMessage(json);
    peloria::StartWindow(peloria::PeloriaCommand(peloria::ProgramFolder()), message);
  } catch (const peloria::Exception& failure) {
    error = failure.Message();
  } catch (const std::exception& failure) {
    error = failure.what();
  }
  return peloria::WriteStandardOutput(peloria::FramedReply(error)) && !error ? 0 : 1;
}
