// The program's own folders keep every function within kMaxFunctionLines
// lines, from the line of its opening brace to that of its closing one. The
// scan is a brace count over the source with comments, string and character
// literals and preprocessor lines taken out: a brace whose head (the text
// since the previous ";", "{" or "}") holds a ")" opens a function body,
// unless the head is an initializer ("=" outside parentheses) or names a
// namespace, class, struct, union or enum, whose braces are scopes that hold
// functions. Lambdas and local classes count towards the function around
// them.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace peloria {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxFunctionLines = 80;

struct TFunction {
  std::string head;  // the head's last line, trimmed
  int line = 0;      // of the opening brace, from 1
  int lines = 0;
};

// `source` with comments, literals and preprocessor lines blanked out;
// line breaks are kept so that line numbers stay.
std::string Code(const std::string& source) {
  std::string out;
  out.reserve(source.size());
  std::size_t i = 0;
  bool lineStart = true;
  const auto skipTo = [&](std::size_t end) {
    for (; i < end && i < source.size(); ++i) out += source[i] == '\n' ? '\n' : ' ';
  };
  while (i < source.size()) {
    const char c = source[i];
    const std::string_view rest(source.data() + i, source.size() - i);
    if (lineStart && c == '#') {
      // A directive, with its continuation lines.
      std::size_t end = i;
      while (end < source.size() && (source[end] != '\n' || source[end - 1] == '\\')) ++end;
      skipTo(end);
      continue;
    }
    if (c != ' ' && c != '\t') lineStart = c == '\n';
    if (rest.starts_with("//")) {
      skipTo(source.find('\n', i));
    } else if (rest.starts_with("/*")) {
      const std::size_t end = source.find("*/", i + 2);
      skipTo(end == std::string::npos ? source.size() : end + 2);
    } else if (rest.starts_with("R\"")) {
      const std::size_t open = source.find('(', i);
      const std::string close = ")" + source.substr(i + 2, open - i - 2) + "\"";
      const std::size_t end = source.find(close, open);
      skipTo(end == std::string::npos ? source.size() : end + close.size());
    } else if (c == '"' ||
               (c == '\'' && !(i > 0 && i + 1 < source.size() && std::isxdigit(source[i - 1]) &&
                               std::isxdigit(source[i + 1])))) {
      // A literal (a digit separator such as 0x00'FF is none).
      std::size_t end = i + 1;
      while (end < source.size() && source[end] != c && source[end] != '\n') {
        end += source[end] == '\\' ? 2 : 1;
      }
      skipTo(end + 1);
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

bool NamesScope(const std::string& head) {
  static const std::regex kScope(R"(\b(namespace|class|struct|union|enum)\b)");
  return std::regex_search(head, kScope) || head.find("extern") != std::string::npos;
}

// True when `head` assigns at parenthesis depth 0 ("x = {", not "f(int a = 0)").
bool Initializer(const std::string& head) {
  int depth = 0;
  for (std::size_t i = 0; i < head.size(); ++i) {
    const char c = head[i];
    if (c == '(' || c == '[' || c == '<') ++depth;
    if ((c == ')' || c == ']' || c == '>') && depth > 0) --depth;
    const bool comparison = i + 1 < head.size() && head[i + 1] == '=';
    const bool compound =
        i > 0 && std::string_view("=!<>+-*/%&|^").find(head[i - 1]) != std::string_view::npos;
    const bool assignment = std::string_view(head).substr(0, i).ends_with("operator");
    if (c == '=' && depth == 0 && !comparison && !compound && !assignment) return true;
  }
  return false;
}

std::string LastLine(const std::string& head) {
  const std::size_t start = head.find_first_not_of(" \t\n");
  if (start == std::string::npos) return {};
  std::string text = head.substr(start);
  const std::size_t end = text.find_last_not_of(" \t\n");
  text = text.substr(0, end + 1);
  const std::size_t last = text.rfind('\n');
  return last == std::string::npos ? text : text.substr(last + 1);
}

// The function bodies of a C++ source file.
std::vector<TFunction> Functions(const std::string& source) {
  const std::string code = Code(source);
  std::vector<TFunction> found;
  std::string head;
  int line = 1;
  // Open scopes (namespaces, classes); inside a function only its depth.
  int scopes = 0;
  int inFunction = 0;
  TFunction current;
  for (const char c : code) {
    if (c == '\n') ++line;
    if (inFunction > 0) {
      if (c == '{') ++inFunction;
      if (c == '}' && --inFunction == 0) {
        current.lines = line - current.line + 1;
        found.push_back(current);
        head.clear();
      }
      continue;
    }
    if (c == '{') {
      if (!NamesScope(head) && !Initializer(head) && head.find(')') != std::string::npos) {
        current = {LastLine(head), line, 0};
        inFunction = 1;
      } else if (Initializer(head)) {
        // A braced initializer (a table): skipped whole, without a head.
        current = {"", line, 0};
        inFunction = 1;
      } else {
        ++scopes;
      }
      head.clear();
    } else if (c == '}' || c == ';') {
      if (c == '}' && scopes > 0) --scopes;
      head.clear();
    } else {
      head += c;
    }
  }
  // Initializers were taken as bodies to skip them; they have no head.
  std::erase_if(found, [](const TFunction& f) { return f.head.empty(); });
  return found;
}

std::string Lines(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += "  x += 1;\n";
  return text;
}

TEST(FunctionLengthTest, TheScanFindsBodiesAndTheirLengths) {
  const std::string source =
      "#define M(x) { x }\n"
      "namespace a {\n"
      "// void commented() {\n"
      "struct S {\n"
      "  int Get() const override { return \"}\"[0] + '{'; }\n"
      "};\n"
      "constexpr int kTable[] = {\n1,\n2,\n};\n"
      "int Long(int a = 0)\n{\n" +
      Lines(kMaxFunctionLines - 3) +
      "  auto f = [] { return R\"x({)x\"; };\n"
      "}\n"
      "}  // namespace a\n";
  const std::vector<TFunction> functions = Functions(source);
  ASSERT_EQ(functions.size(), 2u);
  EXPECT_EQ(functions[0].head, "int Get() const override");
  EXPECT_EQ(functions[0].lines, 1);
  EXPECT_EQ(functions[1].head, "int Long(int a = 0)");
  EXPECT_EQ(functions[1].line, 12);
  EXPECT_EQ(functions[1].lines, kMaxFunctionLines);
}

TEST(FunctionLengthTest, NoFunctionOfTheProgramIsLonger) {
  const fs::path root = PELORIA_SOURCE_DIR;
  int files = 0;
  for (const char* folder :
       {"app", "exif", "http", "cache", "picture", "text", "platform", "host"}) {
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root / folder)) {
      const std::string extension = e.path().extension().string();
      if (extension != ".cpp" && extension != ".h") continue;
      ++files;
      std::ifstream in(e.path(), std::ios::binary);
      const std::string source((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
      for (const TFunction& f : Functions(source)) {
        EXPECT_LE(f.lines, kMaxFunctionLines)
            << fs::relative(e.path(), root).string() << ":" << f.line << ": " << f.head;
      }
    }
  }
  EXPECT_GT(files, 50);
}

}  // namespace
}  // namespace peloria
