#include "platform/message.h"

#include "platform/cp932.h"

namespace peloria {

void FillTemplate(std::string& out, std::string_view pattern, std::string_view letters,
                  const std::function<void(std::string& out, char letter)>& fill) {
  out.reserve(out.size() + pattern.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const bool directive = pattern[i] == '%' && i + 1 < pattern.size() &&
                           letters.find(pattern[i + 1]) != std::string_view::npos;
    if (!directive) {
      out += pattern[i];
      continue;
    }
    fill(out, pattern[++i]);
  }
}

std::string FillMessage(std::string_view utf8Template,
                        std::initializer_list<std::string_view> args) {
  std::string out;
  auto next = args.begin();
  FillTemplate(out, Cp932(utf8Template), "sd", [&](std::string& text, char letter) {
    if (next != args.end()) {
      text += *next++;
    } else {
      text += '%';
      text += letter;
    }
  });
  return out;
}

}  // namespace peloria
