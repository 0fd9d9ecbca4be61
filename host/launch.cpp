#include "host/launch.h"

#include <memory>

#include "platform/files.h"
#include "platform/process.h"

namespace peloria {

std::string PeloriaCommand(const std::string& hostFolder) {
  for (const std::string& candidate : {hostFolder + "peloria", hostFolder + "../../bin/peloria"}) {
    if (FileExists(candidate)) return candidate;
  }
  throw EBrowserMessage("Peloria is not installed beside its host (" + hostFolder + ")");
}

std::vector<std::string> WindowArguments(const std::string& command,
                                         const TBrowserMessage& message) {
  std::vector<std::string> arguments = {command, kFromBrowserOption};
  if (!message.page.empty()) arguments.push_back(kPageOption + message.page);
  if (message.picture) {
    arguments.push_back(kPictureFdOption + std::to_string(kHandedDescriptor));
  }
  arguments.push_back(ShownAddress(message.address));
  return arguments;
}

void StartWindow(const std::string& command, const TBrowserMessage& message) {
  std::unique_ptr<TAnonymousFile> picture;
  if (message.picture) picture = std::make_unique<TAnonymousFile>(*message.picture);
  StartDetached(command, WindowArguments(command, message), picture.get());
}

}  // namespace peloria
