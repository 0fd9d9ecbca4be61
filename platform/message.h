// Filling text templates: failure messages with "%s" and "%d" placeholders,
// and the scanner that the number formatter's directives share with them.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace peloria {

// Appends `pattern` to `out`, each "%" followed by one of `letters` replaced
// by what `fill` appends for that letter. Every other byte, a "%" before any
// other byte included, is copied. Templates are scanned byte by byte: no CP932
// trail byte is a "%".
void FillTemplate(std::string& out, std::string_view pattern, std::string_view letters,
                  const std::function<void(std::string& out, char letter)>& fill);

// The CP932 message of a UTF-8 template: each "%s" or "%d" in turn becomes
// the next of `args` (CP932 texts, numbers written by the caller); placeholders
// beyond the arguments stay as they are.
std::string FillMessage(std::string_view utf8Template,
                        std::initializer_list<std::string_view> args = {});

}  // namespace peloria
